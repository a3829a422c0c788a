#include "platform/gui/WholeText.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QStringList>
#include <QTest>
#include <QTextDocumentFragment>
#include <QWidget>

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kShort = u"/srv/a"_s;
const QString kLong
    = u"/home/utilisateur/Documents/Comptabilite/2026/Rapports trimestriels/Archives"_s;

// A field of a given width in a shown window.
template<typename Field> class FieldTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_field = new Field(&m_window);
        platform::showWholeTextWhenCut(m_field);
        m_field->setFixedWidth(160);
        auto *layout = new QHBoxLayout(&m_window);
        layout->addWidget(m_field);
        layout->addStretch();
        m_window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_window));
    }

    void setWidth(int width)
    {
        m_field->setFixedWidth(width);
        m_window.layout()->activate();
        ASSERT_EQ(m_field->width(), width);
    }

    QWidget m_window;
    Field *m_field = nullptr;
};

using LineEditTest = FieldTest<QLineEdit>;
using ComboBoxTest = FieldTest<QComboBox>;

TEST_F(LineEditTest, tooltipShowsTheTextOnlyWhileItIsCutOff)
{
    const struct
    {
        QString text;
        int width;
        bool cut;
    } cases[] = {
        { {}, 160, false },
        { kShort, 160, false },
        { kLong, 160, true },
        { kLong, 900, false },
        { kLong, 300, true },
        { kShort, 300, false },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.text.toStdString() << " in " << c.width);
        setWidth(c.width);
        m_field->setText(c.text);
        EXPECT_EQ(m_field->toolTip(), c.cut ? c.text : QString());
    }
    // Typed, as well as set.
    m_field->clear();
    QTest::keyClicks(m_field, kLong);
    EXPECT_EQ(m_field->toolTip(), kLong);
}

TEST_F(ComboBoxTest, boxShowsItsTextOnlyWhileItIsCutOff)
{
    m_field->addItems({ kShort, kLong });
    const struct
    {
        int width;
        int index;
        bool cut;
    } cases[] = {
        { 160, -1, false },
        { 160, 0, false },
        { 160, 1, true },
        { 900, 1, false },
        { 900, 0, false },
        { 160, 1, true },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "entry " << c.index << " in " << c.width);
        setWidth(c.width);
        m_field->setCurrentIndex(c.index);
        EXPECT_EQ(m_field->toolTip(), c.cut ? kLong : QString());
    }
}

TEST_F(ComboBoxTest, openList_entriesWiderThanTheListShowTheirTextInATooltip)
{
    // The list opens as wide as its entries, up to the screen's width.
    const QString huge = QStringList(6, kLong).join(u'/');
    m_field->addItems({ kShort, kLong });
    m_field->addItem(huge); // added later
    m_field->showPopup();
    QAbstractItemView *list = m_field->view();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(list->window()));
    ASSERT_LT(list->viewport()->width(), list->fontMetrics().horizontalAdvance(huge));
    EXPECT_EQ(m_field->itemData(0, Qt::ToolTipRole), QVariant());
    EXPECT_EQ(m_field->itemData(1, Qt::ToolTipRole), QVariant());
    EXPECT_EQ(m_field->itemData(2, Qt::ToolTipRole), QVariant(huge));
    m_field->hidePopup();
}

// What a tooltip shows: Qt renders it as markup when it looks like markup.
QString shownText(const QString &toolTip)
{
    return Qt::mightBeRichText(toolTip) ? QTextDocumentFragment::fromHtml(toolTip).toPlainText()
                                        : toolTip;
}

TEST_F(LineEditTest, folderNamedLikeMarkup_isShownAsItIs)
{
    const QStringList folders { kLong + u"/<b>gras</b> &amp; <i>"_s,
        u"<p>"_s + kLong + u"/a  b"_s };
    for (const QString &folder : folders) {
        SCOPED_TRACE(folder.toStdString());
        m_field->setText(folder);
        EXPECT_EQ(shownText(m_field->toolTip()), folder);
    }
}

TEST_F(ComboBoxTest, selectionChangedWithSignalsBlocked_isCaughtUpWhenTheTooltipShows)
{
    m_field->addItems({ kShort, kLong });
    m_field->setCurrentIndex(0);
    {
        const QSignalBlocker blocker(m_field);
        m_field->setCurrentIndex(1);
    }
    QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), m_field->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(m_field, &help);
    EXPECT_EQ(m_field->toolTip(), kLong);
}

} // namespace
