#include "controls/ibutton.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <memory>

#include "controls/ole_color.h"
#include "tests/support/qt_environment.h"

namespace heartpage {
namespace {

// Five 30 x 30 cells, each one solid colour, as the close button's strip.
const QColor kCellColors[] = {Qt::red, Qt::green, Qt::blue, Qt::yellow, Qt::cyan};

QImage Strip(int width = 150, int height = 30) {
  QImage strip(width, height, QImage::Format_RGB32);
  QPainter painter(&strip);
  const int cell = width / 5;
  for (int i = 0; i < 5; ++i) painter.fillRect(i * cell, 0, cell, height, kCellColors[i]);
  return strip;
}

// Ten 15-pixel cells for a toggle button: cell i is grey level 20 * i.
QImage ToggleStrip() {
  QImage strip(150, 30, QImage::Format_RGB32);
  QPainter painter(&strip);
  for (int i = 0; i < 10; ++i) painter.fillRect(i * 15, 0, 15, 30, QColor(20 * i, 20 * i, 20 * i));
  return strip;
}

class IButtonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = std::make_unique<QWidget>();
    host_->setGeometry(100, 100, 200, 120);
    button_ = new iButton(host_.get());
    button_->setGeometry(10, 10, 33, 33);
    host_->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return host_->isVisible() && button_->isVisible(); }));
    PointerAway();
  }

  void PointerOver() { QCursor::setPos(button_->mapToGlobal(QPoint(16, 16))); }
  void PointerAway() { QCursor::setPos(host_->mapToGlobal(QPoint(150, 100))); }

  QPoint Local() const { return button_->mapFromGlobal(QCursor::pos()); }

  void Mouse(QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons held) {
    QMouseEvent event(type, Local(), QCursor::pos(), button, held, Qt::NoModifier);
    QApplication::sendEvent(button_, &event);
  }
  void Press(Qt::MouseButton b = Qt::LeftButton) { Mouse(QEvent::MouseButtonPress, b, b); }
  void Release(Qt::MouseButton b = Qt::LeftButton) {
    Mouse(QEvent::MouseButtonRelease, b, Qt::NoButton);
  }
  void Move(Qt::MouseButtons held = Qt::NoButton) { Mouse(QEvent::MouseMove, Qt::NoButton, held); }
  void Key(QEvent::Type type, int key, bool repeat = false) {
    const QString text = key == Qt::Key_Return  ? QStringLiteral("\r")
                         : key == Qt::Key_Space ? QStringLiteral(" ")
                                                : QString();
    QKeyEvent event(type, key, Qt::NoModifier, text, repeat);
    QApplication::sendEvent(button_, &event);
  }

  // The colour the button shows at its centre.
  QColor Shown() const { return button_->Image().pixelColor(16, 16); }

  std::unique_ptr<QWidget> host_;
  iButton* button_ = nullptr;
};

TEST_F(IButtonTest, PushButtonCutsFourCellsOfAFiveCellStrip) {
  button_->SetBackPicture(Strip());
  ASSERT_TRUE(button_->HasCells());
  ASSERT_EQ(button_->Cells().size(), 4u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(button_->Cells()[i].size(), QSize(30, 30));
    EXPECT_EQ(button_->Cells()[i].pixelColor(0, 0), kCellColors[i]) << "cell " << i;
    EXPECT_EQ(button_->Cells()[i].pixelColor(29, 29), kCellColors[i]) << "cell " << i;
  }
  // Each state's cell is stretched over the whole 33 x 33 button; the fifth
  // cell is never shown.
  for (int state = 0; state < 4; ++state) {
    button_->cMouseAction(state, false);
    EXPECT_EQ(button_->Image().pixelColor(0, 0), kCellColors[state]);
    EXPECT_EQ(button_->Image().pixelColor(32, 32), kCellColors[state]);
  }
  button_->cMouseAction(4, true);
  EXPECT_EQ(Shown(), QColor(Qt::white));
}

TEST_F(IButtonTest, ToggleButtonCutsEightHalfWidthCellsAndLatches) {
  button_->SetBackPicture(Strip());
  button_->SetStyle(1);
  ASSERT_EQ(button_->Cells().size(), 8u);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(button_->Cells()[i].size(), QSize(15, 30));
    EXPECT_EQ(button_->Cells()[i].pixelColor(7, 7), kCellColors[i / 2]) << "cell " << i;
  }

  button_->SetBackPicture(ToggleStrip());
  button_->SetValue(true);
  EXPECT_TRUE(button_->Value());
  for (int state = 0; state < 4; ++state) {
    button_->cMouseAction(state, true);
    EXPECT_EQ(Shown(), QColor(20 * (state + 4), 20 * (state + 4), 20 * (state + 4)));
  }
}

TEST_F(IButtonTest, ValueStaysFalseOnAPushButtonAndIsNeverReported) {
  QSignalSpy changed(button_, &iButton::PropertyChanged);
  button_->SetValue(true);
  EXPECT_FALSE(button_->Value());
  button_->SetStyle(1);
  changed.clear();
  button_->SetValue(true);
  EXPECT_TRUE(button_->Value());
  EXPECT_EQ(changed.count(), 0);
}

TEST_F(IButtonTest, SettingsRedrawAtOnceAndReportTheirKey) {
  QSignalSpy changed(button_, &iButton::PropertyChanged);
  const QImage before = button_->Image();
  button_->SetCaption(QStringLiteral("关"));
  EXPECT_NE(button_->Image(), before);
  const QImage with_caption = button_->Image();
  button_->SetcForeColor(OleColor{0x000000FF});
  EXPECT_NE(button_->Image(), with_caption);
  QFont big = button_->cFont();
  big.setPointSize(20);
  button_->SetcFont(big);
  button_->SetcDrawMode(7);
  button_->SetcBackStyle(1);
  button_->SetEnabled(false);
  button_->SetStyle(0);
  button_->SetBackPicture(Strip());
  button_->SetAutoSize(true);
  QStringList keys;
  for (const QList<QVariant>& call : changed) keys << call.at(0).toString();
  EXPECT_EQ(keys, QStringList({"Caption", "cForeColor", "cFont", "cDrawMode", "cBackStyle",
                               "Enabled", "Style", "BackPicture", "AutoSize"}));
}

TEST_F(IButtonTest, WithoutBackPictureOnlyBackgroundAndCaptionShow) {
  button_->SetBackPicture(Strip());
  button_->SetBackPicture(QImage());
  EXPECT_FALSE(button_->HasCells());
  for (int state = 0; state < 4; ++state) {
    button_->cMouseAction(state, true);
    EXPECT_EQ(button_->Image().pixelColor(0, 0), QColor(Qt::white));
    EXPECT_EQ(Shown(), QColor(Qt::white));
  }
}

// The caption of a pressed button sits one pixel right and down.
TEST_F(IButtonTest, PressedCaptionMovesOnePixel) {
  button_->setGeometry(10, 10, 80, 40);
  button_->SetCaption(QStringLiteral("OK"));
  auto first_ink = [&] {
    const QImage& image = button_->Image();
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        if (image.pixelColor(x, y) != QColor(Qt::white)) return QPoint(x, y);
    return QPoint(-1, -1);
  };
  button_->cMouseAction(iButton::kOver, true);
  const QPoint resting = first_ink();
  ASSERT_NE(resting, QPoint(-1, -1));
  button_->cMouseAction(iButton::kPressed, true);
  EXPECT_EQ(first_ink(), resting + QPoint(1, 1));
}

TEST_F(IButtonTest, HoverShowsOverAndTheTimerNoticesTheLeave) {
  button_->SetBackPicture(Strip());
  // The first tick after creation finds the pointer away: one MouseOut.
  QSignalSpy over(button_, &iButton::MouseOver);
  QSignalSpy out(button_, &iButton::MouseOut);
  ASSERT_TRUE(QTest::qWaitFor([&] { return out.count() == 1; }));
  EXPECT_EQ(over.count(), 0);

  PointerOver();
  Move();
  Move();
  EXPECT_EQ(over.count(), 1);
  EXPECT_TRUE(button_->PointerInside());
  EXPECT_EQ(Shown(), kCellColors[iButton::kOver]);

  PointerAway();
  ASSERT_TRUE(QTest::qWaitFor([&] { return out.count() == 2; }));
  EXPECT_FALSE(button_->PointerInside());
  EXPECT_EQ(Shown(), kCellColors[iButton::kNormal]);
  EXPECT_FALSE(button_->findChild<QTimer*>("Timer1")->isActive());
}

TEST_F(IButtonTest, PressDragOffAndBackThenReleaseOutsideGivesNoClick) {
  button_->SetBackPicture(Strip());
  QSignalSpy clicks(button_, &iButton::Click);
  QSignalSpy out(button_, &iButton::MouseOut);
  PointerOver();
  Move();
  Press();
  EXPECT_TRUE(button_->LeftDown());
  EXPECT_EQ(button_->ShownState(), iButton::kPressed);

  PointerAway();
  Move(Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return button_->ShownState() == iButton::kNormal; }));
  out.clear();
  PointerOver();
  Move(Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return button_->ShownState() == iButton::kPressed; }));
  PointerAway();
  Move(Qt::LeftButton);
  EXPECT_EQ(out.count(), 0) << "no MouseOut while the left button is held";

  Release();
  EXPECT_EQ(button_->ShownState(), iButton::kNormal);
  EXPECT_FALSE(button_->LeftDown());
  EXPECT_EQ(clicks.count(), 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return out.count() == 1; }));
}

TEST_F(IButtonTest, LeftClickRaisesItsEventsInOrderAndTogglesBeforeClick) {
  button_->SetBackPicture(ToggleStrip());
  button_->SetStyle(1);
  QStringList events;
  bool value_at_click = false;
  QObject::connect(button_, &iButton::MouseDown,
                   [&](short&, short&, float&, float&) { events << "down"; });
  QObject::connect(button_, &iButton::MouseUp,
                   [&](short&, short&, float&, float&) { events << "up"; });
  QObject::connect(button_, &iButton::Click, [&] {
    events << "click";
    value_at_click = button_->Value();
  });
  PointerOver();
  Move();
  Press();
  Release();
  EXPECT_EQ(events, QStringList({"down", "up", "click"}));
  EXPECT_TRUE(value_at_click);
  EXPECT_EQ(button_->ShownState(), iButton::kOver);
}

// Qt delivers a double click as press, release, press, double click,
// release; the second press and its release make no second click.
TEST_F(IButtonTest, DoubleClickShowsPressedUntilTheSecondReleaseAndClicksOnce) {
  button_->SetBackPicture(ToggleStrip());
  button_->SetStyle(1);
  QSignalSpy clicks(button_, &iButton::Click);
  QSignalSpy doubles(button_, &iButton::DBClick);
  PointerOver();
  Move();
  Press();
  Release();
  Press();
  Mouse(QEvent::MouseButtonDblClick, Qt::LeftButton, Qt::LeftButton);
  EXPECT_EQ(button_->ShownState(), iButton::kPressed);
  EXPECT_EQ(doubles.count(), 1);
  Release();
  EXPECT_EQ(clicks.count(), 1);
  EXPECT_EQ(doubles.count(), 1);
  EXPECT_FALSE(button_->Value()) << "toggled at both releases";
  EXPECT_EQ(button_->ShownState(), iButton::kOver);
}

TEST_F(IButtonTest, RightButtonNeitherPressesNorClicksUnlessTheHostSaysLeft) {
  button_->SetBackPicture(Strip());
  QSignalSpy clicks(button_, &iButton::Click);
  QSignalSpy downs(button_, &iButton::MouseDown);
  QSignalSpy ups(button_, &iButton::MouseUp);
  PointerOver();
  Move();
  Press(Qt::RightButton);
  EXPECT_EQ(button_->ShownState(), iButton::kOver);
  Release(Qt::RightButton);
  EXPECT_EQ(downs.count(), 1);
  EXPECT_EQ(ups.count(), 1);
  EXPECT_EQ(clicks.count(), 0);
  EXPECT_EQ(button_->LastButton(), 2);

  // A host that turns the press into a left one gets the left button's look.
  QObject::connect(button_, &iButton::MouseDown, [](short& b, short&, float&, float&) { b = 1; });
  Press(Qt::RightButton);
  EXPECT_EQ(button_->ShownState(), iButton::kPressed);
  EXPECT_TRUE(button_->LeftDown());
}

TEST_F(IButtonTest, EnterClicksOnEveryKeyDownAndTheHostCanCancelIt) {
  button_->SetBackPicture(ToggleStrip());
  button_->SetStyle(1);
  QSignalSpy clicks(button_, &iButton::Click);
  std::vector<short> presses;
  QObject::connect(button_, &iButton::KeyPress, [&](short& ascii) { presses.push_back(ascii); });
  Key(QEvent::KeyPress, Qt::Key_Return);
  Key(QEvent::KeyPress, Qt::Key_Return, true);
  Key(QEvent::KeyPress, Qt::Key_Return, true);
  Key(QEvent::KeyRelease, Qt::Key_Return);
  EXPECT_EQ(clicks.count(), 3);
  EXPECT_TRUE(button_->Value());
  EXPECT_EQ(presses, std::vector<short>({13, 13, 13}));

  QObject::connect(button_, &iButton::KeyDown, [](short& key, short&) {
    if (key == 13) key = 0;
  });
  Key(QEvent::KeyPress, Qt::Key_Return);
  EXPECT_EQ(clicks.count(), 3);
  EXPECT_TRUE(button_->Value());
}

TEST_F(IButtonTest, SpacePressesOnKeyDownAndClicksOnceOnTheRealRelease) {
  button_->SetBackPicture(Strip());
  QSignalSpy clicks(button_, &iButton::Click);
  QSignalSpy ups(button_, &iButton::KeyUP);
  Key(QEvent::KeyPress, Qt::Key_Space);
  EXPECT_EQ(button_->ShownState(), iButton::kPressed);
  // Auto-repeat arrives as release and press pairs marked as repeats.
  Key(QEvent::KeyRelease, Qt::Key_Space, true);
  Key(QEvent::KeyPress, Qt::Key_Space, true);
  EXPECT_EQ(clicks.count(), 0);
  Key(QEvent::KeyRelease, Qt::Key_Space);
  EXPECT_EQ(clicks.count(), 1);
  EXPECT_EQ(ups.count(), 1);
  EXPECT_EQ(button_->ShownState(), iButton::kNormal);
}

TEST_F(IButtonTest, DisabledWhileHoveringShowsCellThreeThenTheNextTickLetsGo) {
  button_->SetBackPicture(Strip());
  QSignalSpy out(button_, &iButton::MouseOut);
  ASSERT_TRUE(QTest::qWaitFor([&] { return out.count() == 1; }));
  PointerOver();
  Move();
  ASSERT_TRUE(button_->PointerInside());
  button_->SetEnabled(false);
  EXPECT_EQ(Shown(), kCellColors[iButton::kDisabled]);
  ASSERT_TRUE(QTest::qWaitFor([&] { return out.count() == 2; }));
  EXPECT_EQ(Shown(), kCellColors[iButton::kNormal]);
  // A forced redraw shows the disabled cell again.
  button_->cMouseAction(iButton::kDisabled, true);
  EXPECT_EQ(Shown(), kCellColors[iButton::kDisabled]);
}

TEST_F(IButtonTest, AutoSizeFitsTheButtonToOneCell) {
  button_->SetAutoSize(true);
  button_->SetBackPicture(Strip());
  EXPECT_EQ(button_->size(), QSize(30, 30));
  button_->resize(60, 50);
  EXPECT_EQ(button_->size(), QSize(30, 30));
  button_->SetStyle(1);
  EXPECT_EQ(button_->size(), QSize(15, 30));

  button_->SetAutoSize(false);
  button_->resize(60, 50);
  EXPECT_EQ(button_->size(), QSize(60, 50));
}

TEST_F(IButtonTest, TransparentModeLetsTheMaskColourThrough) {
  QImage strip = Strip();
  QPainter(&strip).fillRect(0, 0, 150, 10, ToQColor(button_->MaskColor(), {}));
  button_->SetBackPicture(strip);
  button_->SetcBackStyle(0);
  const QRegion mask = button_->mask();
  EXPECT_FALSE(mask.contains(QPoint(16, 2)));
  EXPECT_TRUE(mask.contains(QPoint(16, 25)));
  button_->SetcBackStyle(1);
  EXPECT_TRUE(button_->mask().isEmpty());
}

TEST(IButtonDesign, RoundTripsThroughTheBagsText) {
  iButton original;
  original.SetBackPicture(Strip());
  original.SetStyle(1);
  original.SetCaption(QStringLiteral("关闭\t\"x\"\n二"));
  original.SetcForeColor(OleColor{0x80000012});
  original.SetcDrawMode(13);
  original.SetcBackStyle(0);
  original.SetEnabled(false);
  PropertyBag saved;
  original.WriteProperties(saved);

  iButton restored;
  restored.ReadProperties(PropertyBag::FromText(saved.ToText()));
  EXPECT_EQ(restored.BackPicture().convertToFormat(QImage::Format_RGB32),
            original.BackPicture().convertToFormat(QImage::Format_RGB32));
  EXPECT_EQ(restored.Style(), 1);
  EXPECT_EQ(restored.Caption(), original.Caption());
  EXPECT_EQ(restored.cForeColor(), OleColor{0x80000012});
  EXPECT_EQ(restored.cBackStyle(), 0);
  EXPECT_FALSE(restored.Enabled());
  EXPECT_FALSE(restored.AutoSize());
  EXPECT_EQ(restored.cFont(), original.cFont());
  EXPECT_FALSE(restored.HasCells()) << "cells are cut at the first showing, not when read";

  PropertyBag again;
  restored.WriteProperties(again);
  EXPECT_EQ(again.ToText(), saved.ToText());
}

TEST(IButtonDesign, AFreshButtonStoresOnlyWhatDiffersFromTheDefaults) {
  iButton fresh;
  PropertyBag bag;
  fresh.WriteProperties(bag);
  EXPECT_EQ(bag.Names(),
            std::vector<std::string>({"AutoSize", "cFont", "cDrawMode", "cForeColor"}));
  EXPECT_FALSE(std::get<bool>(bag.ReadProperty("AutoSize", true)));
  EXPECT_EQ(std::get<std::int16_t>(bag.ReadProperty("cDrawMode", std::int16_t{0})), 13);
  EXPECT_EQ(std::get<OleColor>(bag.ReadProperty("cForeColor", OleColor{})), OleColor{0x80000012});
}

TEST(IButtonDesign, MissingOrMistypedSettingsLoadTheirDefaults) {
  iButton button;
  button.SetcForeColor(OleColor{0x00123456});
  button.SetcDrawMode(4);
  const PropertyBag bag = PropertyBag::FromText(
      "HeartPage property bag 1\n"
      "Style\tString\tone\n"
      "Caption\tString\tHi\n");
  button.ReadProperties(bag);
  EXPECT_TRUE(button.AutoSize()) << "a design without AutoSize loads it True";
  EXPECT_EQ(button.Style(), 0) << "a text where a number belongs reads as the default";
  EXPECT_EQ(button.Caption(), QStringLiteral("Hi"));
  EXPECT_TRUE(button.Enabled());
  EXPECT_EQ(button.cBackStyle(), 1);
  EXPECT_EQ(button.cForeColor(), OleColor{0x00123456}) << "the present colour is the default";
  EXPECT_EQ(button.cDrawMode(), 4);
}

}  // namespace
}  // namespace heartpage
