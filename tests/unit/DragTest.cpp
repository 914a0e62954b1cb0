#include "ui/Drag.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace orvex;

namespace {

// Records the moves a drag makes, in order.
struct RecordingWindow {
    int32_t FLeft = 100;
    int32_t FTop = 50;
    std::vector<std::string> Moves;
    int32_t Left() const { return FLeft; }
    int32_t Top() const { return FTop; }
    void SetLeft(int32_t value) {
        FLeft = value;
        Moves.push_back("left " + std::to_string(value));
    }
    void SetTop(int32_t value) {
        FTop = value;
        Moves.push_back("top " + std::to_string(value));
    }
};

}  // namespace

TEST(Drag, MovesByThePointersDistanceLeftEdgeFirstAndOnlyWhileDragging) {
    TDragModel drag;
    RecordingWindow window;
    drag.MouseMove(window, 30, 40);
    EXPECT_TRUE(window.Moves.empty());

    drag.MouseDown(10, 20);
    EXPECT_TRUE(drag.FDragging);
    drag.MouseMove(window, 13, 15);  // the window follows, so the press point stays under the pointer
    drag.MouseMove(window, 10 - 500, 20 - 400);  // no limits: off the screen
    EXPECT_EQ(window.Moves, (std::vector<std::string>{"left 103", "top 45", "left -397", "top -355"}));

    drag.MouseUp();
    EXPECT_FALSE(drag.FDragging);
    drag.MouseMove(window, 0, 0);
    EXPECT_EQ(window.Moves.size(), 4u);
}
