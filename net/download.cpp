#include "net/download.h"

#include "net/error_text.h"
#include "net/http_connection.h"
#include "net/multipart.h"
#include "net/single_stream.h"

#include <windows.h>

const wchar_t kCancelledText[] = L"已取消";

bool isCancelSignalled(CancelEvent event) {
  return event && WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

DownloadResult downloadFile(const std::wstring& url, const std::wstring& destPath,
                            const ByteProgress& progress, CancelEvent cancelEvent) {
  HttpConnection connection;
  if (!openHttpConnection(connection, url)) {
    DownloadResult result;
    result.message = L"网络初始化失败（" + lastErrorText() + L"）";
    return result;
  }
  uint64_t total = 0;
  // No retries here: whatever fails is resumed by the next call from the files left behind.
  const DownloadResult result =
      probeRangeSupport(connection, total) && total >= kMultipartThreshold
          ? downloadMultipart(connection, total, destPath, progress, cancelEvent)
          : downloadSingleStream(connection, destPath, progress, cancelEvent);
  connection.close();
  return result;
}
