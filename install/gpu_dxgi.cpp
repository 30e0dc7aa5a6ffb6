// The one part of the GPU advice that asks the system: the adapter list from DXGI.
#include "install/gpu.h"

#include "util/handles.h"

#include <dxgi.h>
#include <windows.h>
#include <wrl/client.h>

#include <cwchar>
#include <iterator>

namespace install {
namespace {

using CreateFactoryFunction = HRESULT(WINAPI*)(REFIID, void**);

std::vector<AdapterDescription> enumerateAdapters() {
  std::vector<AdapterDescription> adapters;
  // Loaded only here, for the one look at the adapters: linked in, DXGI and the graphics stack
  // behind it would be loaded into every run of the program, also the upgrade and uninstall
  // modes, and cost their memory for nothing. Only the System32 copy: a dxgi.dll beside the
  // setup is the classic planted DLL. Declared first, so it is released last.
  const util::Module dxgi(LoadLibraryExW(L"dxgi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  if (!dxgi) return adapters;
  const auto create = reinterpret_cast<CreateFactoryFunction>(
      reinterpret_cast<void*>(GetProcAddress(dxgi.get(), "CreateDXGIFactory1")));
  if (!create) return adapters;
  Microsoft::WRL::ComPtr<IDXGIFactory1> factory;
  // Fails with DXGI_ERROR_UNSUPPORTED on a machine (or a Wine session) without a display.
  if (FAILED(create(__uuidof(IDXGIFactory1), reinterpret_cast<void**>(factory.GetAddressOf())))) {
    return adapters;
  }
  for (UINT index = 0;; ++index) {
    Microsoft::WRL::ComPtr<IDXGIAdapter1> adapter;
    const HRESULT hr = factory->EnumAdapters1(index, adapter.GetAddressOf());
    // DXGI_ERROR_NOT_FOUND ends the list. Any other failure ends it too: the list has no other
    // end, and a factory that keeps failing would otherwise be asked four billion times.
    if (FAILED(hr)) break;
    DXGI_ADAPTER_DESC1 desc{};
    if (FAILED(adapter->GetDesc1(&desc))) continue;
    AdapterDescription d;
    d.description.assign(desc.Description, wcsnlen(desc.Description, std::size(desc.Description)));
    d.vendorId = desc.VendorId;
    d.flags = desc.Flags;
    d.dedicatedVideoMemory = desc.DedicatedVideoMemory;
    adapters.push_back(std::move(d));
  }
  return adapters;
}

}  // namespace

GpuInfo detectGpu() { return chooseAdapter(enumerateAdapters()); }

}  // namespace install
