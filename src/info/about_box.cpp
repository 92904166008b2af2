#include "info/about_box.h"

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QToolButton>
#include <QUrl>
#include <functional>

#include "info/build_info.h"
#include "info/file_version.h"
#include "info/program_icon.h"
#include "info/version_constants.h"

namespace kiren {

namespace {

// The designed geometry (left, top, width, height) within the parent.
constexpr QSize kClientSize(298, 284);
constexpr QRect kPanelRect(8, 8, 281, 237);
constexpr QRect kIconRect(13, 9, 64, 64);
constexpr QPoint kProductNameAt(88, 16);
constexpr int kProductNameWidth = 177;
constexpr QPoint kVersionAt(88, 40);
constexpr QPoint kCopyrightAt(40, 80);
constexpr QPoint kSiteCaptionAt(8, 104);
constexpr QPoint kSiteAt(53, 103);
constexpr QPoint kEmailCaptionAt(8, 128);
constexpr QPoint kEmailAt(53, 127);
constexpr QRect kChevronRect(262, 131, 11, 9);
constexpr QRect kCopyRect(232, 123, 23, 22);
constexpr QRect kMemoRect(8, 146, 265, 82);
constexpr QRect kOkRect(111, 251, 75, 25);
constexpr int kVersionGap = 11;
constexpr int kChevronSize = 2;
constexpr QPoint kChevronAt(4, 2);

const QString kCopyHint = QStringLiteral("Скопировать информацию о сборке");

// A widget that reports mouse presses; used for the icon and the chevron.
class TClickArea : public QLabel {
 public:
  using QLabel::QLabel;
  std::function<void()> OnClick;
  std::function<void(QPainter&)> OnPaint;

 protected:
  void mousePressEvent(QMouseEvent* AEvent) override {
    if (AEvent->button() == Qt::LeftButton && OnClick)
      OnClick();
  }
  void paintEvent(QPaintEvent* AEvent) override {
    QLabel::paintEvent(AEvent);
    if (!OnPaint)
      return;
    QPainter canvas(this);
    OnPaint(canvas);
  }
};

// A chevron of half-width 2*ASize at AAt, pointing up or down.
void DrawChevron(QPainter& ACanvas, QPoint AAt, int ASize, bool AUp, const QColor& AColor) {
  ACanvas.setPen(QPen(AColor, 1));
  for (int row = 0; row < 2; ++row) {
    const int top = AAt.y() + row * (ASize + 1);
    const int tip = AUp ? top : top + ASize;
    const int ends = AUp ? top + ASize : top;
    ACanvas.drawLine(AAt.x() - ASize + 1, ends, AAt.x() + 1, tip);
    ACanvas.drawLine(AAt.x() + 1, tip, AAt.x() + ASize + 1, ends);
  }
}

QPixmap CopyPicture() {
  QPixmap picture(16, 16);
  picture.fill(Qt::transparent);
  QPainter canvas(&picture);
  canvas.setPen(QColor(64, 64, 64));
  canvas.setBrush(Qt::white);
  canvas.drawRect(2, 1, 8, 10);
  canvas.drawRect(6, 5, 8, 10);
  return picture;
}

QLabel* MakeLink(QWidget* AParent, const QString& AHref, const QString& AText) {
  auto* link = new QLabel(QStringLiteral("<a href=\"%1\" style=\"color:blue\">%2</a>")
                              .arg(AHref.toHtmlEscaped(), AText.toHtmlEscaped()),
                          AParent);
  link->setTextFormat(Qt::RichText);
  link->setOpenExternalLinks(true);
  link->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
  link->setCursor(Qt::PointingHandCursor);
  return link;
}

}  // namespace

QString SplitProductName(const QString& AName) {
  QString name = AName;
  const qsizetype at = name.indexOf(QStringLiteral(" ("));
  if (at >= 0)
    name.replace(at, 2, QStringLiteral("\n("));
  return name;
}

TAboutBox::TAboutBox(QWidget* AOwner, std::uint16_t ALangID) : QDialog(AOwner), FLangID(ALangID) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
  BuildControls();
  FillTexts();
  PaintBox1Click();  // the memo and the copy button start hidden
}

TAboutBox::TAboutBox(QWidget* AOwner, const QString& ALang)
    : TAboutBox(AOwner, LangIdOfLocale(ALang.toStdString())) {}

void TAboutBox::BuildControls() {
  setFixedSize(kClientSize);
  Panel1 = new QFrame(this);
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel1->setLineWidth(2);
  Panel1->setGeometry(kPanelRect);

  auto* icon = new TClickArea(Panel1);
  icon->setGeometry(kIconRect);
  icon->setScaledContents(true);
  icon->setCursor(Qt::PointingHandCursor);
  icon->OnClick = [this] { ProgramIconClick(); };
  ProgramIcon = icon;

  QFont bold = font();
  bold.setBold(true);
  ProductName = new QLabel(Panel1);
  ProductName->setFont(bold);
  ProductName->setWordWrap(true);
  ProductName->move(kProductNameAt);
  Version = new QLabel(Panel1);
  Version->setFont(bold);
  Version->move(kVersionAt);
  Copyright = new QLabel(Panel1);
  Copyright->move(kCopyrightAt);

  lSite = new QLabel(Panel1);
  lSite->move(kSiteCaptionAt);
  Label2 = MakeLink(Panel1, QStringLiteral(KIREN_SITE_URL), QStringLiteral(KIREN_SITE_URL));
  Label2->move(kSiteAt);
  lEmail = new QLabel(Panel1);
  lEmail->move(kEmailCaptionAt);
  Label3 = MakeLink(Panel1, QStringLiteral("mailto:" KIREN_EMAIL), QStringLiteral(KIREN_EMAIL));
  Label3->move(kEmailAt);

  auto* chevron = new TClickArea(Panel1);
  chevron->setGeometry(kChevronRect);
  chevron->setCursor(Qt::PointingHandCursor);
  chevron->OnClick = [this] { PaintBox1Click(); };
  chevron->OnPaint = [this](QPainter& ACanvas) {
    DrawChevron(ACanvas, kChevronAt, kChevronSize, !mCvsInfo->isHidden(),
                palette().color(QPalette::WindowText));
  };
  PaintBox1 = chevron;

  sbCopy = new QToolButton(Panel1);
  sbCopy->setGeometry(kCopyRect);
  sbCopy->setAutoRaise(true);
  sbCopy->setIcon(QIcon(CopyPicture()));
  connect(sbCopy, &QToolButton::clicked, this, &TAboutBox::sbCopyClick);

  mCvsInfo = new QPlainTextEdit(Panel1);
  mCvsInfo->setReadOnly(true);
  mCvsInfo->setGeometry(kMemoRect);

  OKButton = new QPushButton(QStringLiteral("OK"), this);
  OKButton->setGeometry(kOkRect);
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, &TAboutBox::close);
}

void TAboutBox::FillTexts() {
  setWindowTitle(QStringLiteral("О программе"));
  setWindowIcon(kiren::ProgramIcon());
  lSite->setText(QStringLiteral("Сайт") + ":");
  lEmail->setText(QStringLiteral("E-Mail") + ":");
  for (QLabel* label : {lSite, lEmail, Label2, Label3})
    label->adjustSize();

  TFileVersionInfo info;
  ReadFileVersionInfo(FLangID, info);
  ProductName->setText(SplitProductName(QString::fromStdString(info.ProductName)));
  ProductName->resize(kProductNameWidth, ProductName->heightForWidth(kProductNameWidth));
  Version->setText(QStringLiteral("Версия") + ": " + QString::fromStdString(info.ProductVersion));
  Version->adjustSize();
  Version->move(Version->x(), ProductName->y() + ProductName->height() + kVersionGap);
  Copyright->setText(QString::fromStdString(info.LegalCopyRight));
  Copyright->adjustSize();
  Copyright->move((Panel1->width() - Copyright->width()) / 2, Copyright->y());

  ProgramIcon->setPixmap(ProgramIconPixmap(kIconRect.width()));
  sbCopy->setToolTip(kCopyHint);
}

void TAboutBox::SetBuildText(const QString& AText) {
  mCvsInfo->setPlainText(AText);
  FitMemo();
  FitWindow();
}

void TAboutBox::FitMemo() {
  // The editor lays out each paragraph in lines of the font's full line spacing, counts whole
  // pixels per paragraph, and shows a scroll bar unless all of them fit the viewport less one
  // document margin and one pixel. The memo gets that height, and the bottom margin as well.
  const QTextDocument* doc = mCvsInfo->document();
  const int margin = static_cast<int>(doc->documentMargin());
  const int frame = 2 * mCvsInfo->frameWidth();
  const qreal lineWidth = mCvsInfo->width() - frame - 2 * margin;
  int textHeight = 0;
  for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
    QTextLayout layout(block.text(), doc->defaultFont());
    layout.setTextOption(doc->defaultTextOption());
    layout.beginLayout();
    qreal height = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
      line.setLeadingIncluded(true);
      line.setLineWidth(lineWidth);
      height += line.height();
    }
    layout.endLayout();
    textHeight += static_cast<int>(height);
  }
  mCvsInfo->resize(mCvsInfo->width(), textHeight + 2 * margin + 1 + frame);
}

void TAboutBox::FitWindow() {
  const int margins = kClientSize.height() - kPanelRect.height();
  const int memo = mCvsInfo->isHidden() ? 0 : mCvsInfo->height();
  const int panelHeight = memo + mCvsInfo->y() + mCvsInfo->x();
  Panel1->resize(Panel1->width(), panelHeight);
  const int windowHeight = panelHeight + margins;
  setFixedSize(width(), windowHeight);
  OKButton->move(OKButton->x(), windowHeight - (kClientSize.height() - kOkRect.top()));
}

void TAboutBox::PaintBox1Click() {
  mCvsInfo->setHidden(!mCvsInfo->isHidden());
  sbCopy->setHidden(mCvsInfo->isHidden());
  PaintBox1->update();
  FitWindow();
}

void TAboutBox::sbCopyClick() {
  const QString text = mCvsInfo->toPlainText();
  const qsizetype from = text.indexOf(QStringLiteral("Build"));
  QApplication::clipboard()->setText(from < 0 ? text : text.mid(from));
}

void TAboutBox::ProgramIconClick() {
  QDesktopServices::openUrl(QUrl::fromLocalFile(QCoreApplication::applicationDirPath()));
}

void TAboutBox::keyPressEvent(QKeyEvent* AEvent) {
  if (AEvent->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QDialog::keyPressEvent(AEvent);
}

bool TAboutBox::event(QEvent* AEvent) {
  if (AEvent->type() == QEvent::WindowDeactivate && isVisible())
    close();
  return QDialog::event(AEvent);
}

TAboutBox* ShowAboutBox(QWidget* AOwner, const QString& AHeader, const QString& ALang,
                        const QString& AFooter) {
  auto* box = new TAboutBox(AOwner, ALang);
  QString text;
  if (!AHeader.isEmpty())
    text += AHeader + "\n";
  text += QString::fromStdString(BuildInfoText(CurrentBuildInfo())).replace("\r\n", "\n");
  if (!AFooter.isEmpty())
    text += "\n" + AFooter;
  box->SetBuildText(text);
  if (AOwner)
    box->move(AOwner->frameGeometry().center() - box->rect().center());
  box->show();
  return box;
}

}  // namespace kiren
