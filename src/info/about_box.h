#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>

class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QToolButton;

namespace kiren {

// "О программе": the icon, product name, version and copyright, links to the maker's site and
// e-mail, and a collapsible memo with the build information that can be copied. Modeless; it
// closes on OK, Escape or when another window becomes active, and is destroyed on closing.
class TAboutBox : public QDialog {
  Q_OBJECT

 public:
  TAboutBox(QWidget* AOwner, std::uint16_t ALangID);
  TAboutBox(QWidget* AOwner, const QString& ALang);

  std::uint16_t LangID() const { return FLangID; }
  // Puts AText into the memo and fits the memo and the window to it.
  void SetBuildText(const QString& AText);

  // Show or hide the memo together with the copy button, and fit the window.
  void PaintBox1Click();
  // Copies the memo from the first "Build" on (all of it without one) as text.
  void sbCopyClick();
  // Opens the program's folder in the file manager.
  void ProgramIconClick();

  // Controls, named as designed.
  QFrame* Panel1 = nullptr;
  QLabel* ProgramIcon = nullptr;
  QLabel* ProductName = nullptr;
  QLabel* Version = nullptr;
  QLabel* Copyright = nullptr;
  QLabel* lSite = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* lEmail = nullptr;
  QLabel* Label3 = nullptr;
  QWidget* PaintBox1 = nullptr;
  QToolButton* sbCopy = nullptr;
  QPlainTextEdit* mCvsInfo = nullptr;
  QPushButton* OKButton = nullptr;

 protected:
  void keyPressEvent(QKeyEvent* AEvent) override;
  bool event(QEvent* AEvent) override;

 private:
  void BuildControls();
  void FillTexts();
  void FitMemo();
  void FitWindow();

  std::uint16_t FLangID = 0;
};

// A product name with its first " (" turned into a line break before the "(".
QString SplitProductName(const QString& AName);

// Creates the box over AOwner with AHeader and AFooter around the build information, centres
// it on AOwner and shows it without waiting. Returns the box (it deletes itself on closing).
TAboutBox* ShowAboutBox(QWidget* AOwner, const QString& AHeader = QString(),
                        const QString& ALang = QString(), const QString& AFooter = QString());

}  // namespace kiren
