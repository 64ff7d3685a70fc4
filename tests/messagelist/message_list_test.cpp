#include "messagelist/message_list.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvelin {
namespace {

TEST(MessageList, EmptyListReadsAsOneEmptyRow) {
    MessageList list;
    EXPECT_EQ(list.RowCount(), 1u);
    EXPECT_EQ(list.RowText(0), "");
    EXPECT_EQ(list.CountText(), "0 files");
    EXPECT_TRUE(list.IsEmpty());
}

TEST(MessageList, KeepsPathsAsGivenInOrderWithDuplicates) {
    MessageList list;
    list.AddFileToList("/m/a.msg");
    EXPECT_EQ(list.CountText(), "1 files");
    list.AddFileToList("  /m/b.MSG ");
    list.AddFileToList("/m/a.msg");
    ASSERT_EQ(list.RowCount(), 3u);
    EXPECT_EQ(list.RowText(0), "/m/a.msg");
    EXPECT_EQ(list.RowText(1), "  /m/b.MSG ");
    EXPECT_EQ(list.RowText(2), "/m/a.msg");
    EXPECT_EQ(list.CountText(), "3 files");
}

TEST(MessageList, FirstAddAfterResetGoesToRowZero) {
    MessageList list;
    list.AddFileToList("/old/1.msg");
    list.AddFileToList("/old/2.msg");
    list.ResetFileList();
    EXPECT_EQ(list.CountText(), "0 files");
    EXPECT_EQ(list.RowText(0), "");
    list.AddFileToList("/new/1.msg");
    EXPECT_EQ(list.RowCount(), 1u);
    EXPECT_EQ(list.RowText(0), "/new/1.msg");
}

TEST(MessageList, HoldsPathsLongerThanAStorageBlockAndEmptyPaths) {
    MessageList list;
    const std::string huge(300 * 1024, 'x');
    list.AddFileToList("/a.msg");
    list.AddFileToList(huge);
    list.AddFileToList("");
    list.AddFileToList("/b.msg");
    ASSERT_EQ(list.EntryCount(), 4u);
    EXPECT_EQ(list.RowText(0), "/a.msg");
    EXPECT_EQ(list.RowText(1), huge);
    EXPECT_EQ(list.RowText(2), "");
    EXPECT_EQ(list.RowText(3), "/b.msg");
}

TEST(MessageList, ManyPathsStayIntact) {
    MessageList list;
    for (int i = 0; i < 20000; ++i) list.AddFileToList("/mail/" + std::to_string(i) + ".msg");
    ASSERT_EQ(list.EntryCount(), 20000u);
    for (int i = 0; i < 20000; i += 997)
        EXPECT_EQ(list.RowText(i), "/mail/" + std::to_string(i) + ".msg");
}

}  // namespace
}  // namespace tarvelin
