// The SSE client window on the offscreen platform, streaming from scripted loopback
// servers: what the log shows, Cancel, errors, and presses while a stream runs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "FSSEClient.h"
#include "vynScriptedPeer.h"

namespace vyn {
namespace {

using test::TScriptedPeer;

const char* const ChunkedHead =
    "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n";

QString URLOf(const TScriptedPeer& APeer) {
  return QStringLiteral("http://127.0.0.1:%1/sse.php").arg(APeer.Port());
}

// Runs AAction on the window's thread the next time it processes events.
void Post(QObject* AReceiver, std::function<void()> AAction) {
  QMetaObject::invokeMethod(AReceiver, std::move(AAction), Qt::QueuedConnection);
}

class WindowTest : public testing::Test {
protected:
  void SetUp() override {
    ErrorReport() = [this](QWidget*, const QString& AMessage) { Errors << AMessage; };
  }
  QStringList LogEntries() const { return Form.Log->toPlainText().split(u'\n'); }

  QStringList Errors;
  TForm16 Form;
};

TEST_F(WindowTest, ControlsAndWindowSettings) {
  EXPECT_EQ(Form.windowTitle(), "SSE Client");
  EXPECT_EQ(Form.size(), QSize(543, 449));
  EXPECT_FALSE(Form.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(Form.windowFlags() & Qt::WindowMinimizeButtonHint);
  const struct {
    QWidget* Control;
    QRect Geometry;
  } controls[] = {
      {Form.Label3, {114, 8, 23, 13}},  {Form.Label6, {22, 56, 17, 13}}, {Form.btnGetSSE, {24, 25, 75, 25}},
      {Form.btnCancel, {441, 25, 75, 25}}, {Form.txtURL, {114, 27, 295, 21}}, {Form.Log, {24, 75, 492, 350}},
  };
  for (const auto& c : controls) EXPECT_EQ(c.Control->geometry(), c.Geometry) << c.Control->metaObject()->className();
  EXPECT_EQ(Form.Label3->text(), "URL:");
  EXPECT_EQ(Form.Label6->text(), "Log");
  EXPECT_EQ(Form.btnGetSSE->text(), "Get SSE");
  EXPECT_EQ(Form.btnCancel->text(), "Cancel");
  EXPECT_EQ(Form.txtURL->text(), "https://localhost:8443/sse.php");
  EXPECT_TRUE(Form.Log->toPlainText().isEmpty());
  EXPECT_EQ(Form.btnGetSSE->nextInFocusChain(), Form.btnCancel);
  EXPECT_EQ(Form.btnCancel->nextInFocusChain(), Form.txtURL);
  EXPECT_EQ(Form.txtURL->nextInFocusChain(), Form.Log);
  EXPECT_EQ(Form.Log->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(Form.Log->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  EXPECT_FALSE(Form.Log->isReadOnly());
}

TEST_F(WindowTest, EveryPieceBecomesOneEntryInArrivalOrderOneCharacterPerByte) {
  TScriptedPeer peer;
  peer.ReadUntil("\r\n\r\n").Write(ChunkedHead);
  for (const char* piece : {"6\r\ndata 1\r\n", "6\r\ndata 2\r\n", "2\r\n\xC3\xA9\r\n"}) peer.Pause(20).Write(piece);
  peer.Write("0\r\n\r\n").Close();
  peer.Start();
  Form.txtURL->setText(URLOf(peer));
  Form.Log->setPlainText(QStringLiteral("old text"));
  Form.btnGetSSE->click();
  EXPECT_TRUE(peer.Join());
  EXPECT_EQ(LogEntries(), (QStringList{"data 1", "data 2", QString::fromUtf16(u"\u00C3\u00A9")}));
  EXPECT_TRUE(Errors.isEmpty());
  EXPECT_TRUE(Form.btnGetSSE->isEnabled());
}

TEST_F(WindowTest, CancelStopsAtThePieceBeingShownWithoutAnError) {
  TScriptedPeer peer;
  peer.ReadUntil("\r\n\r\n").Write(ChunkedHead).Write("1\r\nA\r\n").Pause(50);
  // The click waits in the queue when B arrives, so B is the last piece shown.
  peer.Do([this] { Post(Form.btnCancel, [this] { Form.btnCancel->click(); }); });
  peer.Write("1\r\nB\r\n").Pause(200).Write("1\r\nC\r\n").Pause(100).Write("0\r\n\r\n").StepTimeout(1000).Close();
  peer.Start();
  Form.txtURL->setText(URLOf(peer));
  Form.btnGetSSE->click();
  peer.Stop();
  EXPECT_EQ(LogEntries(), (QStringList{"A", "B"}));
  EXPECT_TRUE(Errors.isEmpty());

  // The next press streams normally: the flag is cleared and the client reused.
  TvynHTTP1Client* client = Form.GetHTTPClient();
  TScriptedPeer again;
  again.ReadUntil("\r\n\r\n").Write(ChunkedHead).Write("1\r\nD\r\n").Write("0\r\n\r\n").Close();
  again.Start();
  Form.txtURL->setText(URLOf(again));
  Form.btnGetSSE->click();
  EXPECT_TRUE(again.Join());
  EXPECT_EQ(LogEntries(), QStringList{"D"});
  EXPECT_EQ(Form.GetHTTPClient(), client);
}

TEST_F(WindowTest, FailureIsReportedWithItsMessageAndTheWindowStaysUsable) {
  Form.txtURL->clear();
  Form.btnGetSSE->click();
  EXPECT_EQ(Errors, QStringList{"Unknown Protocol"});
  EXPECT_TRUE(Form.btnGetSSE->isEnabled());

  TScriptedPeer peer;
  peer.ReadUntil("\r\n\r\n").Write("HTTP/1.1 503 Busy\r\nContent-Length: 0\r\n\r\n").Close();
  peer.Start();
  Form.txtURL->setText(URLOf(peer));
  Form.btnGetSSE->click();
  EXPECT_TRUE(peer.Join());
  EXPECT_EQ(Errors, (QStringList{"Unknown Protocol", "HTTP/1.1 503 Busy"}));
}

TEST_F(WindowTest, SecondPressWhileStreamingDoesNotDisturbTheStream) {
  TScriptedPeer peer;
  peer.ReadUntil("\r\n\r\n").Write(ChunkedHead).Write("1\r\nA\r\n").Pause(50);
  peer.Do([this] {
    Post(Form.btnGetSSE, [this] {
      Form.btnGetSSE->click();  // disabled while streaming
      Form.btnGetSSE->clicked();  // even a click signal that gets through is ignored
    });
  });
  peer.Write("1\r\nB\r\n").Pause(50).Write("1\r\nC\r\n0\r\n\r\n").Close();
  peer.Start();
  Form.txtURL->setText(URLOf(peer));
  Form.btnGetSSE->click();
  EXPECT_TRUE(peer.Join());
  EXPECT_EQ(LogEntries(), (QStringList{"A", "B", "C"}));
  EXPECT_TRUE(Errors.isEmpty());
}

TEST_F(WindowTest, ClosingWhileStreamingEndsTheStreamAndThenCloses) {
  Form.show();
  TScriptedPeer peer;
  peer.ReadUntil("\r\n\r\n").Write(ChunkedHead).Write("1\r\nA\r\n").Pause(50);
  peer.Do([this] { Post(&Form, [this] { Form.close(); }); });
  peer.Write("1\r\nB\r\n").Pause(300).Write("1\r\nC\r\n").StepTimeout(1000).Close();
  peer.Start();
  Form.txtURL->setText(URLOf(peer));
  const uint64_t start = TickCount64();
  Form.btnGetSSE->click();
  EXPECT_LT(TicksSince(start), 300u);
  peer.Stop();
  EXPECT_FALSE(Form.isVisible());
  EXPECT_EQ(LogEntries(), (QStringList{"A", "B"}));
  EXPECT_TRUE(Errors.isEmpty());
}

}  // namespace
}  // namespace vyn

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
