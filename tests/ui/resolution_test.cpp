// The window at resolutions other than 96 pixels per inch: grown as far as the screen
// allows, laid out for less where it would not fit, its buttons kept to the right.
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>

#include "tests/ui/fake_dialogs.h"

namespace trundle {
namespace {

class HighResolutionTest : public WindowTest {
 protected:
  HighResolutionTest() : WindowTest(108) {}
};

TEST(ScaledClientSizeTest, GrowsWithTheResolutionAsFarAsTheScreenAllows) {
  EXPECT_EQ(ScaledClientSize(96, QSize(300, 200)), QSize(682, 424));
  // 682 x 424 designed, 125 % for the resolution, then 128 % on top.
  EXPECT_EQ(ScaledClientSize(120, QSize()), QSize(852 * 128 / 100, 530 * 128 / 100));
  EXPECT_EQ(ScaledClientSize(120, QSize(1000, 2000)), QSize(1000, 530 * 128 / 100));
  // The controls need their scaled size whatever the screen.
  EXPECT_EQ(ScaledClientSize(144, QSize(800, 600)), QSize(1023, 636));
  // Qt reports 72 when it rounds a 1.5 scale up to 2; the extra percentage (78) would
  // cut the pages off.
  EXPECT_EQ(ScaledClientSize(72, QSize()), QSize(511, 318));
}

TEST_F(HighResolutionTest, WindowGrowsAndButtonsKeepToTheRight) {
  // The offscreen screen (800 x 600) has room for the width scaled to 108 pixels per
  // inch, not for all of the extra 115 % on top of it: the window grows as far as it fits.
  const QSize free = form_->screen()->availableGeometry().size();
  ASSERT_LT(free.width(), 767 * 115 / 100);
  EXPECT_GT(form_->centralWidget()->width(), 767);
  EXPECT_GT(form_->centralWidget()->height(), 477);
  EXPECT_LE(form_->width(), free.width());
  EXPECT_LE(form_->height(), free.height());
  const int page_width = Get("Notebook1")->width();
  for (int page = 1; page <= 4; ++page) {
    const QString n = QString::number(page);
    auto* cancel = form_->findChild<QWidget*>("Cancel" + n);
    auto* back = form_->findChild<QWidget*>("Back" + n);
    EXPECT_EQ(cancel->x() + cancel->width(), page_width - 10) << page;
    EXPECT_EQ(back->y(), cancel->y());
    if (auto* next = form_->findChild<QWidget*>("Next" + n)) {
      EXPECT_EQ(next->x() + next->width(), cancel->x() - 10) << page;
    }
  }
  auto* trundle = Get("TrundleButton");
  EXPECT_EQ(trundle->x() + trundle->width(), page_width - 20);
  EXPECT_EQ(Get("Edit1")->width(), 409 * 108 / 96);
  Click("Next1");
  ExpectRadioItemsInsideTheirFrames(*form_);
}

// A resolution the screen has no room for (twice 96 on an 800 x 600 screen): the window
// is laid out smaller so that all of it, Next and Cancel too, lies on the screen.
TEST(FittingTest, AWindowTooLargeForTheScreenIsLaidOutToFitIt) {
  EXPECT_EQ(FittingPpi(192, QSize()), 192);
  EXPECT_EQ(FittingPpi(96, QSize(1024, 768)), 96);
  const int fitted = FittingPpi(192, QSize(1024, 740));
  EXPECT_LT(fitted, 192);
  EXPECT_GE(fitted, 96);
  EXPECT_EQ(FittingPpi(192, QSize(100, 100)), 48);

  auto dialogs = std::make_shared<DialogLog>();
  MainForm form(std::make_unique<FakeDialogs>(dialogs), 192);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  const QRect free = form.screen()->availableGeometry();
  ASSERT_LT(free.width(), 682 * 2);
  EXPECT_LE(form.width(), free.width());
  EXPECT_LE(form.height(), free.height());
  auto* notebook = form.findChild<QStackedWidget*>("Notebook1");
  for (int page = 0; page < 4; ++page) {
    notebook->setCurrentIndex(page);
    const QString n = QString::number(page + 1);
    for (const QString& name : {"Next" + n, "Cancel" + n, QString("Back") + n}) {
      auto* button = form.findChild<QWidget*>(name);
      if (!button) continue;
      const QRect on_window(button->mapTo(&form, QPoint(0, 0)), button->size());
      EXPECT_TRUE(form.rect().contains(on_window)) << name.toStdString();
    }
  }
}

// At a low resolution (Qt's at twice the scale on a small screen) the text grows faster
// than the boxes scaled with it: the introduction still shows whole, without scrolling.
TEST(FittingTest, TheIntroductionShowsWholeAtALowResolution) {
  for (int ppi : {70, 72, 108}) {
    SCOPED_TRACE(ppi);
    MainForm form(std::make_unique<FakeDialogs>(std::make_shared<DialogLog>()), ppi);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    auto* intro = form.findChild<QPlainTextEdit*>("Memo1");
    QApplication::processEvents();
    EXPECT_EQ(intro->verticalScrollBar()->maximum(), 0);
    EXPECT_LE(intro->geometry().bottom(), form.findChild<QWidget*>("Back1")->parentWidget()->y());
  }
}

}  // namespace
}  // namespace trundle
