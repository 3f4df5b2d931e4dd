// Dialogs that answer at once and remember what they were asked, a window fixture that
// finds its controls by design name, and a check of the radio groups' frames.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTest>
#include <memory>
#include <optional>
#include <vector>

#include "ui/dialogs.h"
#include "ui/main_form.h"

namespace trundle {

struct DialogLog {
  std::vector<QString> questions;
  bool answer = false;
  std::vector<QString> errors;
  std::vector<QString> error_captions;
  std::vector<bool> error_icons;  // with a stop icon
  std::vector<QString> messages;
  std::vector<FileDialogRequest> requests;
  std::optional<FileDialogAnswer> file;  // what the next file dialog returns
  std::vector<QString> opened;
  bool desktop_opens = true;  // what the desktop's opener answers
};

class FakeDialogs : public Dialogs {
 public:
  explicit FakeDialogs(std::shared_ptr<DialogLog> log) : log_(std::move(log)) {}
  bool Ask(QWidget*, const QString&, const QString& text) override {
    log_->questions.push_back(text);
    return log_->answer;
  }
  void ShowError(QWidget*, const QString& caption, const QString& text, bool stop_icon) override {
    log_->error_captions.push_back(caption);
    log_->errors.push_back(text);
    log_->error_icons.push_back(stop_icon);
  }
  void ShowMessage(QWidget*, const QString&, const QString& text) override {
    log_->messages.push_back(text);
  }
  std::optional<FileDialogAnswer> ChooseFile(QWidget*, const FileDialogRequest& r) override {
    log_->requests.push_back(r);
    return log_->file;
  }
  bool OpenWithDesktop(const QString& path) override {
    log_->opened.push_back(path);
    return log_->desktop_opens;
  }

 private:
  std::shared_ptr<DialogLog> log_;
};

class WindowTest : public ::testing::Test {
 protected:
  explicit WindowTest(int ppi = 96)
      : dialogs_(std::make_shared<DialogLog>()),
        form_(std::make_unique<MainForm>(std::make_unique<FakeDialogs>(dialogs_), ppi)) {}
  void SetUp() override {
    form_->show();
    form_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  }

  template <typename T = QWidget>
  T* Get(const char* name) {
    T* widget = form_->findChild<T*>(QLatin1String(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  int Page() { return Get<QStackedWidget>("Notebook1")->currentIndex(); }
  void Click(const char* button) {
    QTest::mouseClick(Get<QPushButton>(button), Qt::LeftButton);
  }

  std::shared_ptr<DialogLog> dialogs_;
  std::unique_ptr<MainForm> form_;
};

// Every radio item lies inside the frame of its group, below the caption, on every tab.
inline void ExpectRadioItemsInsideTheirFrames(MainForm& form) {
  for (auto* tabs : form.findChildren<QTabWidget*>()) {
    for (int tab = 0; tab < tabs->count(); ++tab) {
      tabs->setCurrentIndex(tab);
      for (auto* box : tabs->widget(tab)->findChildren<QGroupBox*>()) {
        box->ensurePolished();
        if (box->layout()) box->layout()->activate();
        for (auto* radio : box->findChildren<QRadioButton*>())
          EXPECT_TRUE(box->contentsRect().contains(radio->geometry()))
              << radio->objectName().toStdString();
      }
    }
  }
}

}  // namespace trundle
