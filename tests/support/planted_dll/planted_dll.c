/* A stand-in for a DLL that a drive-by download leaves beside the setup. Built under the names of
   system DLLs; when any process loads it, DllMain leaves "<its file name>.loaded" in the folder
   named by ORVALO_PLANTED_MARKERS and refuses the load, so that nothing of it runs beyond that. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t folder[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(L"ORVALO_PLANTED_MARKERS", folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return FALSE;
  wchar_t image[MAX_PATH];
  const DWORD imageLength = GetModuleFileNameW(self, image, MAX_PATH);
  if (imageLength == 0 || imageLength >= MAX_PATH) return FALSE;
  const wchar_t* name = wcsrchr(image, L'\\');
  name = name ? name + 1 : image;
  wchar_t marker[2 * MAX_PATH + 16];
  wsprintfW(marker, L"%s\\%s.loaded", folder, name);
  HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return FALSE;
}
