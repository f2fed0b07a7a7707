// The SSE client window: a URL, "Get SSE", "Cancel", and a log that shows every piece
// of the response body the moment it arrives.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "vynHTTP.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace vyn {

// How a failed "Get SSE" is shown: a modal message box with the error's message. Tests
// replace it to see the message without a box.
using TErrorReport = std::function<void(QWidget* AParent, const QString& AMessage)>;
TErrorReport& ErrorReport();

class TForm16 : public QWidget {
public:
  explicit TForm16(QWidget* AParent = nullptr);
  ~TForm16() override;

  // The client, created with the window on first call and destroyed with it.
  TvynHTTP1Client* GetHTTPClient();

  QLabel* Label3;
  QLabel* Label6;
  QPushButton* btnGetSSE;
  QPushButton* btnCancel;
  QLineEdit* txtURL;
  QPlainTextEdit* Log;

  // The URL the window opens with: the demo server's event-stream endpoint.
  static constexpr const char* DefaultURL = "https://localhost:8443/sse.php";

protected:
  // Closing while a stream runs cancels it and closes the window once GetSSE has
  // returned: the window owns the client that is still inside the call.
  void closeEvent(QCloseEvent* AEvent) override;

private:
  void btnGetSSEClick();
  void btnCancelClick();
  void OnSSEMessageEvent(TObject* Sender, const String& aMessage, bool& Cancel);

  bool FCancel = false;
  // A stream is running: "Get SSE" is disabled and a nested press is ignored, so that
  // the running response is never interleaved with a second request.
  bool FStreaming = false;
  bool FCloseRequested = false;
  std::unique_ptr<TvynHTTP1Client> FHTTPClient;
};

}  // namespace vyn
