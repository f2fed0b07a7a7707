#include "FSSEClient.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>

namespace vyn {

TErrorReport& ErrorReport() {
  static TErrorReport report = [](QWidget* AParent, const QString& AMessage) {
    QMessageBox::critical(AParent, QApplication::applicationName(), AMessage);
  };
  return report;
}

namespace {

template <class TControl>
TControl* Place(TControl* AControl, int ALeft, int ATop, int AWidth, int AHeight) {
  AControl->setGeometry(ALeft, ATop, AWidth, AHeight);
  return AControl;
}

}  // namespace

TForm16::TForm16(QWidget* AParent) : QWidget(AParent) {
  setWindowTitle(QStringLiteral("SSE Client"));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  resize(543, 449);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, palette.color(QPalette::Button));
  setPalette(palette);
  setAutoFillBackground(true);
  QFont font(QStringLiteral("Tahoma"));
  font.setPixelSize(11);
  setFont(font);

  Label3 = Place(new QLabel(QStringLiteral("URL:"), this), 114, 8, 23, 13);
  Label6 = Place(new QLabel(QStringLiteral("Log"), this), 22, 56, 17, 13);
  btnGetSSE = Place(new QPushButton(QStringLiteral("Get SSE"), this), 24, 25, 75, 25);
  btnCancel = Place(new QPushButton(QStringLiteral("Cancel"), this), 441, 25, 75, 25);
  txtURL = Place(new QLineEdit(QString::fromLatin1(DefaultURL), this), 114, 27, 295, 21);
  Log = Place(new QPlainTextEdit(this), 24, 75, 492, 350);
  Log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Log->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Log->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  for (QWidget* label : {static_cast<QWidget*>(Label3), static_cast<QWidget*>(Label6)})
    label->setFocusPolicy(Qt::NoFocus);
  setTabOrder(btnGetSSE, btnCancel);
  setTabOrder(btnCancel, txtURL);
  setTabOrder(txtURL, Log);

  connect(btnGetSSE, &QPushButton::clicked, this, [this] { btnGetSSEClick(); });
  connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });

  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

TForm16::~TForm16() = default;

TvynHTTP1Client* TForm16::GetHTTPClient() {
  if (!FHTTPClient) {
    FHTTPClient = std::make_unique<TvynHTTP1Client>();
    FHTTPClient->OnSSEMessage = [this](TObject* Sender, const String& aMessage, bool& Cancel) {
      OnSSEMessageEvent(Sender, aMessage, Cancel);
    };
  }
  return FHTTPClient.get();
}

void TForm16::btnGetSSEClick() {
  if (FStreaming) return;
  FCancel = false;
  Log->clear();
  const String url = txtURL->text().toStdU16String();
  FStreaming = true;
  btnGetSSE->setEnabled(false);
  try {
    GetHTTPClient()->GetSSE(url, u"UTF-8");
  } catch (const Exception& e) {
    if (!FCloseRequested) ErrorReport()(this, QString::fromStdU16String(e.Message()));
  } catch (const std::exception& e) {
    if (!FCloseRequested) ErrorReport()(this, QString::fromUtf8(e.what()));
  }
  FStreaming = false;
  btnGetSSE->setEnabled(true);
  if (FCloseRequested) close();
}

void TForm16::btnCancelClick() { FCancel = true; }

void TForm16::OnSSEMessageEvent(TObject*, const String& aMessage, bool& Cancel) {
  Log->appendPlainText(QString::fromStdU16String(aMessage));
  QCoreApplication::processEvents();
  Cancel = FCancel;
}

void TForm16::closeEvent(QCloseEvent* AEvent) {
  if (!FStreaming) {
    AEvent->accept();
    return;
  }
  // Only seen while a piece is being delivered, so the cancel takes effect at once.
  FCancel = true;
  FCloseRequested = true;
  AEvent->ignore();
}

}  // namespace vyn
