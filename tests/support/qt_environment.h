#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <cstdlib>
#include <memory>

namespace heartpage::testing {

// One QApplication for the whole test program, on the platform CTest names
// (offscreen).
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "heartpage-tests";
    static char* argv[] = {name, nullptr};
    // What the windows keep for the user (the editors' drafts) goes to a
    // data folder of this test program's own, not the user's.
    data_ = std::make_unique<QTemporaryDir>();
    setenv("XDG_DATA_HOME", data_->path().toLocal8Bit().constData(), 1);
    app_ = std::make_unique<QApplication>(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
  }
  void TearDown() override {
    app_.reset();
    data_.reset();
  }

 private:
  std::unique_ptr<QTemporaryDir> data_;
  std::unique_ptr<QApplication> app_;
};

inline const ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace heartpage::testing
