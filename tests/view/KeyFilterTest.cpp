// The key filters of the number edits.
#include "view/KeyFilter.h"
#include "view/LimitMarks.h"

#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

namespace rd780 {
namespace {

TEST(KeyFilter, DigitEditsTakeDigitsAndBackspaceOnly) {
    QLineEdit edit;
    view::KeyFilter filter(view::digitKeyAllowed, nullptr);
    edit.installEventFilter(&filter);
    QTest::keyClicks(&edit, "1a2-+ 3");
    EXPECT_EQ(edit.text(), QStringLiteral("123"));
    QTest::keyClick(&edit, Qt::Key_Backspace);
    EXPECT_EQ(edit.text(), QStringLiteral("12"));
    QTest::keyClick(&edit, Qt::Key_Left); // keys that type nothing still work
    QTest::keyClick(&edit, Qt::Key_Delete);
    EXPECT_EQ(edit.text(), QStringLiteral("1"));
}

} // namespace
} // namespace rd780
