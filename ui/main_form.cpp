// The window's frame, pages, navigation, reset and resolution adjustment.
#include "ui/main_form.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTabWidget>
#include <algorithm>

#include "engine/adaptor_registry.h"
#include "front/kinds.h"
#include "front/register_adaptors.h"
#include "ui/artwork.h"
#include "ui/destination_page.h"
#include "ui/gauge.h"
#include "ui/intro_page.h"
#include "ui/run_page.h"
#include "ui/source_page.h"
#include "ui/menu_accessibility.h"
#include "ui/recent_files.h"

namespace trundle {
namespace {

// Sizes as designed at 96 pixels per inch.
constexpr int kClientWidth = 682;
constexpr int kClientHeight = 424;
constexpr int kImageWidth = 185;
constexpr int kButtonPanelHeight = 35;
// A generous guess at a window manager's borders and title bar.
constexpr int kFrameAllowanceWidth = 16;
constexpr int kFrameAllowanceHeight = 40;
// The menu bar's height at 96 pixels per inch, with room to spare.
constexpr int kMenuAllowanceHeight = 24;
// Below this the text is too small to read; a smaller screen shows part of the window.
constexpr int kSmallestPpi = 48;

QFont WindowFont(int pixel_size) {
  QFont font(QFontDatabase::families().contains(QStringLiteral("Verdana"))
                 ? QStringLiteral("Verdana")
                 : QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
  font.setPixelSize(pixel_size);
  return font;
}

}  // namespace

MainForm::MainForm(std::unique_ptr<Dialogs> dialogs, int ppi, QWidget* parent)
    : QMainWindow(parent), dialogs_(std::move(dialogs)) {
  const QScreen* on = screen() ? screen() : QGuiApplication::primaryScreen();
  ppi_ = FittingPpi(ppi > 0 ? ppi : static_cast<int>(std::lround(on->logicalDotsPerInch())),
                    on->availableGeometry().size());
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(QStringLiteral("Trundle"));
  setWindowIcon(ProgramIcon());
  setFont(WindowFont(Px(11)));
  QPalette palette = this->palette();
  palette.setColor(QPalette::WindowText, palette.color(QPalette::Text));
  setPalette(palette);
  BuildMenu();

  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("ClientArea"));
  setCentralWidget(client);
  image_panel_ = new QWidget(client);
  image_panel_->setObjectName(QStringLiteral("ImagePanel"));
  image_ = new QLabel(image_panel_);
  image_->setObjectName(QStringLiteral("Image1"));
  image_->setAccessibleName(tr("Picture"));
  image_->setScaledContents(true);
  panel2_ = new QFrame(client);
  panel2_->setObjectName(QStringLiteral("Panel2"));
  static_cast<QFrame*>(panel2_)->setFrameStyle(QFrame::Panel | QFrame::Raised);
  notebook1_ = new QStackedWidget(panel2_);
  notebook1_->setObjectName(QStringLiteral("Notebook1"));

  intro_page_ = new IntroPage(notebook1_);
  BuildPage(0, intro_page_, "Label1", tr("Trundle"));
  intro_page_->Build([this](int designed) { return Px(designed); });
  auto* source_page = new SourcePage(notebook1_);
  BuildPage(1, source_page, "Label2", tr("Source Data"));
  BuildSourcePage(source_page);
  auto* destination_page = new DestinationPage(notebook1_);
  BuildPage(2, destination_page, "Label11", tr("Destination"));
  BuildDestinationPage(destination_page);
  auto* run_page = new RunPage(notebook1_);
  BuildPage(3, run_page, "Label30", tr("Execute Trundle"));
  BuildRunPage(run_page);
  // The page the layout was stored with; the first reset replaces it.
  notebook1_->setCurrentIndex(3);
  connect(notebook1_, &QStackedWidget::currentChanged, this, &MainForm::Notebook1PageChanged);

  ApplyResolution();
  // Before the naming: the run page's table list is described by its design name too.
  ConnectWholeDatabase();
  NameForAccessibility();
  UpdatePreviewButton();
  for (const KindDeclaration& declared : Kinds()) {
    const TDataKind kind = declared.kind;
    if (!declared.list_tables || !IsAdaptorRegistered(kind)) continue;
    SetTableLister(kind, [kind](const EndDescription& end) {
      return DatabaseTables(kind, end.database, end.user, end.password, end.dao_version);
    });
  }
}

MainForm::~MainForm() = default;

int MainForm::Px(int designed) const { return ppi_ == 96 ? designed : designed * ppi_ / 96; }

void MainForm::BuildMenu() {
  // Menu commands are described by their design name as the other controls are.
  DescribeNamedMenuCommands();
  QMenu* file = menuBar()->addMenu(tr("&File"));
  file->setObjectName(QStringLiteral("File1"));
  file->menuAction()->setObjectName(QStringLiteral("File1"));
  QAction* open = file->addAction(tr("&Open Transfer..."));
  open->setObjectName(QStringLiteral("OpenTransfer1"));
  connect(open, &QAction::triggered, this, &MainForm::OpenTransfer1Click);
  QAction* save = file->addAction(tr("&Save Transfer..."));
  save->setObjectName(QStringLiteral("SaveTransfer1"));
  connect(save, &QAction::triggered, this, &MainForm::SaveTransfer1Click);
  recent_menu_ = file->addMenu(tr("Recent &Files"));
  recent_menu_->setObjectName(QStringLiteral("RecentFiles1"));
  recent_menu_->menuAction()->setObjectName(QStringLiteral("RecentFiles1"));
  connect(recent_menu_, &QMenu::aboutToShow, this, &MainForm::FillRecentMenu);
  FillRecentMenu();
  file->addSeparator();
  QAction* exit = file->addAction(tr("E&xit"));
  exit->setObjectName(QStringLiteral("Exit1"));
  connect(exit, &QAction::triggered, this, [this, exit] { ToolButtonClick(exit); });
  QMenu* help = menuBar()->addMenu(tr("&Help"));
  help->setObjectName(QStringLiteral("Help1"));
  help->menuAction()->setObjectName(QStringLiteral("Help1"));
  QAction* read_me = help->addAction(tr("&Read Me"));
  read_me->setObjectName(QStringLiteral("ReadMe1"));
  connect(read_me, &QAction::triggered, this, &MainForm::ReadMe1Click);
  QAction* about = help->addAction(tr("&About"));
  about->setObjectName(QStringLiteral("About1"));
  connect(about, &QAction::triggered, this, &MainForm::About1Click);
}

void MainForm::FillRecentMenu() {
  recent_menu_->clear();
  const QVector<RecentFile> files = RecentFiles::Load();
  for (int i = 0; i < files.size(); ++i) {
    const RecentFile& file = files[i];
    // "&1 Source: /data/shop.mdb"; an ampersand of the path shown as itself.
    QString path = file.path;
    path.replace(QLatin1Char('&'), QLatin1String("&&"));
    QAction* entry = recent_menu_->addAction(
        (file.source ? tr("&%1 Source: %2") : tr("&%1 Destination: %2")).arg(i + 1).arg(path));
    entry->setObjectName(QStringLiteral("RecentFile%1").arg(i + 1));
    connect(entry, &QAction::triggered, this, [this, file] { OpenRecentFile(file); });
  }
  if (files.isEmpty()) recent_menu_->addAction(tr("(none yet)"))->setEnabled(false);
  recent_menu_->addSeparator();
  QAction* clear = recent_menu_->addAction(tr("&Clear the List"));
  clear->setObjectName(QStringLiteral("ClearRecentFiles1"));
  clear->setEnabled(!files.isEmpty());
  connect(clear, &QAction::triggered, this, [] { RecentFiles::Clear(); });
}

QWidget* MainForm::BuildPage(int index, QWidget* page, const QString& title_name,
                             const QString& title) {
  notebook1_->addWidget(page);
  auto* label = new QLabel(title, page);
  label->setObjectName(title_name);
  label->setAlignment(Qt::AlignCenter);
  QFont font = WindowFont(Px(24));
  font.setBold(true);
  label->setFont(font);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, QColor(0, 0, 128));
  label->setPalette(palette);
  label->setGeometry(Px(16), Px(32), Px(465), Px(29));

  auto* panel = new QWidget(page);
  // The run page's panel keeps its design name; the other pages' panels have none
  // (Panel2 is the frame that holds the pages).
  panel->setObjectName(index == 3 ? QStringLiteral("Panel4")
                                  : QStringLiteral("Panel%1Buttons").arg(index + 1));
  PageButtons& b = buttons_[index];
  const QString n = QString::number(index + 1);
  b.back = new QPushButton(tr("&Back"), panel);
  b.back->setObjectName("Back" + n);
  b.back->setGeometry(Px(252), Px(5), Px(75), Px(25));
  if (index < 3) {
    b.next = new QPushButton(tr("&Next"), panel);
    b.next->setObjectName("Next" + n);
    b.next->setGeometry(Px(332), Px(5), Px(75), Px(25));
    b.next->setDefault(true);
  }
  b.cancel = new QPushButton(index < 3 ? tr("&Cancel") : tr("&Close"), panel);
  b.cancel->setObjectName("Cancel" + n);
  b.cancel->setGeometry(Px(412), Px(5), Px(75), Px(25));
  for (QPushButton* button : {b.back, b.next, b.cancel})
    if (button)
      connect(button, &QPushButton::clicked, this, [this, button] { ToolButtonClick(button); });
  return page;
}

int FittingPpi(int ppi, QSize room) {
  if (!room.isValid()) return ppi;
  const int across = 96 * room.width() / (kClientWidth + kFrameAllowanceWidth);
  const int down =
      96 * room.height() / (kClientHeight + kFrameAllowanceHeight + kMenuAllowanceHeight);
  return std::max(kSmallestPpi, std::min({ppi, across, down}));
}

QSize ScaledClientSize(int ppi, QSize room) {
  if (ppi == 96) return {kClientWidth, kClientHeight};
  const QSize scaled(kClientWidth * ppi / 96, kClientHeight * ppi / 96);
  // Room on top of the scaled sizes for text that grows faster than its boxes.
  const int scale = ppi * 100 / 96 + 3;
  QSize grown(scaled.width() * scale / 100, scaled.height() * scale / 100);
  // That room is a nicety; a window taller or wider than the screen hides its title bar
  // or its buttons. The controls themselves keep their scaled size in any case.
  if (room.isValid()) grown = grown.boundedTo(room);
  return grown.expandedTo(scaled);
}

// Places the frame's parts for the client size: the picture on the left, the pages on the
// rest, each page's buttons right-aligned in its bottom panel.
void MainForm::ApplyResolution() {
  const bool scaled = ppi_ != 96;
  QSize room;
  if (const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen()) {
    // What the window may use of the free screen once the window manager's frame (not
    // known before the window is shown) and the menu bar have theirs.
    const int menu_height = menuBar()->sizeHint().height();
    room = s->availableGeometry().size() -
           QSize(Px(kFrameAllowanceWidth), Px(kFrameAllowanceHeight) + menu_height);
  }
  const QSize client = ScaledClientSize(ppi_, room);
  const int width = client.width();
  const int height = client.height();
  centralWidget()->setFixedSize(width, height);
  image_panel_->setGeometry(0, 0, Px(kImageWidth), height);
  image_->setGeometry(image_panel_->rect());
  image_->setPixmap(PanelPicture(image_panel_->size()));
  panel2_->setGeometry(Px(kImageWidth), 0, width - Px(kImageWidth), height);
  notebook1_->setGeometry(panel2_->rect().adjusted(1, 1, -1, -1));
  const int page_width = notebook1_->width();
  const int panel_height = Px(kButtonPanelHeight);
  for (int i = 0; i < 4; ++i) {
    QWidget* panel = buttons_[i].back->parentWidget();
    panel->setGeometry(0, notebook1_->height() - panel_height, page_width, panel_height);
    if (!scaled) continue;
    PageButtons& b = buttons_[i];
    PageButtons& first = buttons_[0];
    if (i == 0) {
      first.cancel->move(page_width - first.cancel->width() - 10, first.cancel->y());
      first.next->move(first.cancel->x() - first.next->width() - 10, first.next->y());
      first.back->move(first.next->x() - first.back->width() - 10, first.back->y());
    } else {
      b.cancel->move(first.cancel->x(), b.cancel->y());
      if (b.next) b.next->move(first.next->x(), b.next->y());
      b.back->move(first.back->x(), b.back->y());
    }
  }
  if (scaled) {
    run_page_->trundle_button()->move(page_width - run_page_->trundle_button()->width() - 20,
                                      run_page_->trundle_button()->y());
    // Text scaled takes more room than its box scaled with it (sizes round down, glyphs
    // are hinted up): the introduction has the page down to its buttons, and shows whole.
    intro_page_->ExtendTextTo(buttons_[0].back->parentWidget()->y());
  }
  adjustSize();
  setFixedSize(sizeHint());
}

// Screen readers and scripts: the design name as description; a name from the caption,
// the label (as buddy), or a short one set where the control has neither.
void MainForm::NameForAccessibility() {
  for (QWidget* widget : findChildren<QWidget*>()) {
    const QString name = widget->objectName();
    // Qt names the parts it builds inside a control (qt_scrollarea_viewport, ...); those
    // are no design names to find a control by.
    if (!name.isEmpty() && !name.startsWith(QLatin1String("qt_")))
      widget->setAccessibleDescription(name);
  }
}

void MainForm::ToolButtonClick(QObject* sender) {
  const QString name = sender->objectName();
  if (name.startsWith(QLatin1String("Back")))
    ShowPage(notebook1_->currentIndex() - 1);
  else if (name.startsWith(QLatin1String("Next")))
    ShowPage(notebook1_->currentIndex() + 1);
  else if (name.startsWith(QLatin1String("Cancel")) || name == QLatin1String("Exit1"))
    ConfirmQuit();
}

void MainForm::ShowPage(int index) {
  if (index >= 0 && index < notebook1_->count()) notebook1_->setCurrentIndex(index);
}

void MainForm::Notebook1PageChanged(int index) {
  switch (index) {
    case 0:
      buttons_[0].next->setFocus();
      break;
    case 1:
      if (source_tabs_->currentIndex() == 0) edit1_->setFocus();
      if (source_tabs_->currentIndex() == 1) edit2_->setFocus();
      break;
    case 2:
      if (dest_tabs_->currentIndex() == 0) edit8_->setFocus();
      if (dest_tabs_->currentIndex() == 1) edit9_->setFocus();
      break;
    case 3:
      // The control that had the focus went with the destination page, and Qt would
      // hand the focus on to Back4, so that the Enter that came here would lead straight
      // back. The Trundle button, the page's default, takes it: Enter starts the run.
      run_page_->trundle_button()->setFocus();
      ShowDestinationNote();
      break;
    default:
      break;
  }
}

void MainForm::ConfirmQuit() {
  if (running_) {
    AskToStopRun();
    return;
  }
  if (dialogs_->Ask(this, tr("Confirm"), tr("Are you sure you want to quit?"))) close();
}

void MainForm::Reset() {
  if (notebook1_->currentIndex() != 0)
    notebook1_->setCurrentIndex(0);
  else
    Notebook1PageChanged(0);
  source_tabs_->setCurrentIndex(0);
  dest_tabs_->setCurrentIndex(0);
  for (QLineEdit* box : {edit1_, edit2_, edit3_, edit4_, edit5_, edit6_, edit7_, edit8_, edit9_,
                         edit10_, edit11_, edit15_, edit16_, edit17_, edit19_, edit20_, edit21_})
    box->clear();
  for (QComboBox* combo : {combo1_, combo2_, combo3_, combo4_})
    combo->setEditText(tr("<Select table>"));
  for (QPlainTextEdit* memo : {memo2_, memo3_, memo4_, memo5_, run_page_->log()}) memo->clear();
  for (const auto* tabs : {&source_declared_, &dest_declared_})
    for (const DeclaredTab& t : *tabs) {
      t.database->clear();
      t.table->setEditText(tr("<Select table>"));
      if (t.sql) t.sql->clear();
    }
  notebook2_->setVisible(false);
  notebook2_->setCurrentIndex(0);
}

// The reset runs once, when the window first appears: message boxes and dialogs that
// close later leave the pages, the entries and the log as they were.
void MainForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (reset_done_) return;
  reset_done_ = true;
  if (QScreen* s = screen()) {
    // Centred, but never with the title bar above the free area of the screen.
    const QRect free = s->availableGeometry();
    const QPoint centred = free.center() - rect().center();
    move(std::max(centred.x(), free.left()), std::max(centred.y(), free.top()));
  }
  Reset();
}

void MainForm::keyPressEvent(QKeyEvent* event) {
  const PageButtons& b = buttons_[notebook1_->currentIndex()];
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // A button with the focus is pressed by Enter; otherwise the page's default one
      // (Next, or on the run page Trundle, which a run disables).
      if (auto* focused = qobject_cast<QPushButton*>(focusWidget()); focused && focused->isEnabled())
        focused->click();
      else if (b.next)
        b.next->click();
      else if (run_page_->trundle_button()->isEnabled())
        run_page_->trundle_button()->click();
      return;
    case Qt::Key_Escape:
      b.cancel->click();
      return;
    default:
      QMainWindow::keyPressEvent(event);
  }
}

}  // namespace trundle
