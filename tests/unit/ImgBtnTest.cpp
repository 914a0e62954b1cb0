#include "ui/ImgBtn.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace orvex;

namespace {

using P = TImgBtnPicture;
using C = TCaptureRequest;
constexpr TMouseButton Left = TMouseButton::Left;

// A 101 x 27 button as the window makes it: enabled, counting its clicks and the picture shown
// while each click ran.
struct Button {
    Button() : button(575, 506, 101, 27) {
        button.SetEnabled(true);
        button.OnClick = [this] {
            ++clicks;
            pictureDuringClick = button.Picture();
        };
    }
    TImgBtn button;
    int clicks = 0;
    P pictureDuringClick = P::Up;
};

}  // namespace

TEST(ImgBtn, MadeAtRunTimeItIsDisabledUntilEnabled) {
    TImgBtn button(0, 0, 10, 10);
    EXPECT_FALSE(button.Enabled());
    EXPECT_EQ(button.Picture(), P::Disabled);
    button.SetEnabled(true);
    EXPECT_EQ(button.Picture(), P::Up);
}

TEST(ImgBtn, ContainsIsInWindowCoordinatesWithExclusiveRightAndBottom) {
    TImgBtn button(575, 506, 101, 27);
    EXPECT_TRUE(button.Contains(575, 506));
    EXPECT_TRUE(button.Contains(675, 532));
    EXPECT_FALSE(button.Contains(676, 510));
    EXPECT_FALSE(button.Contains(600, 533));
    EXPECT_FALSE(button.Contains(574, 510));
}

TEST(ImgBtn, HoverCapturesAndEdgesCountAsOver) {
    Button b;
    EXPECT_EQ(b.button.MouseMove(50, 10), C::Capture);
    EXPECT_EQ(b.button.Picture(), P::Over);
    EXPECT_EQ(b.button.MouseMove(101, 27), C::Capture);  // both ends inclusive
    EXPECT_EQ(b.button.Picture(), P::Over);
    EXPECT_EQ(b.button.MouseMove(102, 27), C::Release);
    EXPECT_EQ(b.button.Picture(), P::Up);
    EXPECT_EQ(b.button.MouseMove(-1, 5), C::Release);
}

TEST(ImgBtn, ClickFiresOnceWithTheDownPictureShownThenUp) {
    Button b;
    b.button.MouseMove(10, 10);
    EXPECT_EQ(b.button.MouseDown(Left, 10, 10), C::Capture);
    EXPECT_EQ(b.button.Picture(), P::Down);
    EXPECT_TRUE(b.button.Pressed());
    EXPECT_EQ(b.button.MouseUp(Left, 10, 10), C::Release);
    EXPECT_EQ(b.clicks, 1);
    EXPECT_EQ(b.pictureDuringClick, P::Down);
    EXPECT_EQ(b.button.Picture(), P::Up);  // although the pointer is still over it
    EXPECT_FALSE(b.button.Pressed());
    b.button.MouseMove(11, 10);
    EXPECT_EQ(b.button.Picture(), P::Over);
}

TEST(ImgBtn, ReleaseOutsideOrOnTheFarEdgeDoesNotClick) {
    Button b;
    b.button.MouseDown(Left, 10, 10);
    // Moves while pressed change nothing.
    EXPECT_EQ(b.button.MouseMove(300, 300), C::Keep);
    EXPECT_EQ(b.button.Picture(), P::Down);
    b.button.MouseUp(Left, 300, 300);
    EXPECT_EQ(b.button.Picture(), P::Up);
    b.button.MouseDown(Left, 10, 10);
    b.button.MouseUp(Left, 101, 10);  // X = Width is outside for a click
    b.button.MouseDown(Left, 10, 10);
    b.button.MouseUp(Left, 10, 27);
    EXPECT_EQ(b.clicks, 0);
}

TEST(ImgBtn, OnlyTheLeftButtonChangesPicturesButAnyReleaseClearsPressed) {
    Button b;
    for (TMouseButton other : {TMouseButton::Right, TMouseButton::Middle}) {
        b.button.MouseMove(5, 5);
        EXPECT_EQ(b.button.MouseDown(other, 5, 5), C::Keep);
        EXPECT_EQ(b.button.Picture(), P::Over);
        EXPECT_EQ(b.button.MouseUp(other, 5, 5), C::Keep);
        EXPECT_EQ(b.button.Picture(), P::Over);
    }
    b.button.MouseDown(Left, 5, 5);
    b.button.MouseUp(TMouseButton::Right, 5, 5);
    EXPECT_FALSE(b.button.Pressed());
    EXPECT_EQ(b.button.Picture(), P::Down);
    // Without Pressed the left release inside does not click.
    b.button.MouseUp(Left, 5, 5);
    EXPECT_EQ(b.clicks, 0);
}

TEST(ImgBtn, DoubleClickClicksOnce) {
    Button b;
    b.button.MouseDown(Left, 5, 5);
    b.button.MouseUp(Left, 5, 5);
    b.button.MouseDown(Left, 5, 5, true);
    EXPECT_EQ(b.button.Picture(), P::Down);
    b.button.MouseUp(Left, 5, 5);
    EXPECT_EQ(b.button.Picture(), P::Up);
    EXPECT_EQ(b.clicks, 1);
    // The next single press clicks again.
    b.button.MouseDown(Left, 5, 5);
    b.button.MouseUp(Left, 5, 5);
    EXPECT_EQ(b.clicks, 2);
}

TEST(ImgBtn, DisabledIgnoresThePointer) {
    Button b;
    b.button.MouseMove(5, 5);
    b.button.SetEnabled(false);  // while hovered
    EXPECT_EQ(b.button.Picture(), P::Disabled);
    EXPECT_EQ(b.button.MouseMove(500, 5), C::Keep);
    EXPECT_EQ(b.button.MouseMove(5, 5), C::Keep);
    EXPECT_EQ(b.button.MouseDown(Left, 5, 5), C::Keep);
    EXPECT_EQ(b.button.MouseUp(Left, 5, 5), C::Keep);
    EXPECT_EQ(b.button.Picture(), P::Disabled);
    EXPECT_EQ(b.clicks, 0);
    b.button.SetEnabled(true);  // the up picture even with the pointer over it
    EXPECT_EQ(b.button.Picture(), P::Up);
}

TEST(ImgBtn, HandlerThatDisablesOrThrowsLeavesTheButtonConsistent) {
    Button b;
    b.button.OnClick = [&] { b.button.SetEnabled(false); };
    b.button.MouseDown(Left, 5, 5);
    EXPECT_EQ(b.button.MouseUp(Left, 5, 5), C::Release);
    EXPECT_EQ(b.button.Picture(), P::Disabled);
    EXPECT_FALSE(b.button.Pressed());

    b.button.SetEnabled(true);
    b.button.OnClick = [] { throw std::runtime_error("handler failed"); };
    b.button.MouseDown(Left, 5, 5);
    EXPECT_THROW(b.button.MouseUp(Left, 5, 5), std::runtime_error);
    EXPECT_EQ(b.button.Picture(), P::Up);
    EXPECT_FALSE(b.button.Pressed());
}

TEST(ImgBtn, HiddenWhilePressedForgetsThePress) {
    Button b;
    b.button.MouseDown(Left, 5, 5);
    b.button.SetVisible(false);
    b.button.SetVisible(true);
    EXPECT_FALSE(b.button.Pressed());
    EXPECT_EQ(b.button.Picture(), P::Up);
    b.button.MouseUp(Left, 5, 5);
    EXPECT_EQ(b.clicks, 0);
    EXPECT_EQ(b.button.MouseMove(5, 5), C::Capture);
}
