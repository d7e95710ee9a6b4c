#include "http/TNetHeaderList.h"

#include <gtest/gtest.h>

static TNetHeaderList ListOf(std::initializer_list<const char*> ALines) {
    TNetHeaderList list;
    for (const char* line : ALines)
        list.Add(line);
    return list;
}

static std::vector<std::string> LinesOf(const TNetHeaderList& AList) {
    std::vector<std::string> lines;
    for (int i = 0; i < AList.Count(); ++i)
        lines.emplace_back(AList.Strings(i));
    return lines;
}

TEST(TNetHeaderListTest, NamesAndValues) {
    TNetHeaderList list = ListOf({"Content-Length:12", "host: a.b", "Content-Type:   x/y  ",
                                  "Host : other", "NoColon", "", "cookie: b=2"});
    EXPECT_EQ(list.ValueOf("content-length"), "12");
    EXPECT_EQ(list.ValueOf("HOST"), "a.b");
    EXPECT_EQ(list.FindName("Host"), 1);
    EXPECT_EQ(list.ValueOf("Content-Type"), "x/y  "); // leading blanks go, trailing stay
    EXPECT_EQ(list.LineName(3), "HOST ");             // a blank before the colon stays
    EXPECT_EQ(list.LineName(4), "");
    EXPECT_EQ(list.ValueOf("Missing"), "");
    EXPECT_EQ(list.LineValue(-1), "");
    list.Insert(0, "Cookie: a=1");
    std::vector<std::string> values;
    list.ValuesOf("COOKIE", &values); // every line of the name, in order
    EXPECT_EQ(values, (std::vector<std::string>{"a=1", "b=2"}));
    list.ValuesOf("Cookie", nullptr);
}

// A name ends where the separator first stands, also when the separator is longer than one
// character and the name asked for ends in a part of it.
TEST(TNetHeaderListTest, AnotherSeparatorEndsTheNameAtItsFirstPlace) {
    TNetHeaderList list = ListOf({"A: no", "a::b:: one", "X:: two"});
    list.SetValueSeparator(":: ");
    EXPECT_EQ(list.FindName("A"), 1);
    EXPECT_EQ(list.ValueOf("a"), "b:: one");
    EXPECT_EQ(list.FindName("a:"), -1);
    EXPECT_EQ(list.FindName("a::b"), -1);
    EXPECT_EQ(list.ValueOf("x"), "two");
    list.AssignValue("x", "three");
    EXPECT_EQ(list.Strings(2), "x:: three");
}

TEST(TNetHeaderListTest, UnfoldsContinuationLines) {
    TNetHeaderList list = ListOf({"X-A: one", "   two", "\tthree", "X-B: end ", " more",
                                  "X-C:", " only", "X-D: last", "", " not mine"});
    EXPECT_EQ(list.ValueOf("X-A"), "one two three");
    EXPECT_EQ(list.ValueOf("X-B"), "end more"); // value ending in a blank takes it directly
    EXPECT_EQ(list.ValueOf("X-C"), "only");
    EXPECT_EQ(list.ValueOf("X-D"), "last"); // the empty line ends the run
    list.SetUnfoldLines(false);
    EXPECT_EQ(list.ValueOf("X-A"), "one");
}

TEST(TNetHeaderListTest, AssignValueReplacesInPlaceAndRemoves) {
    TNetHeaderList list = ListOf({"A: 1", "B: 2", "C: 3", "SERVER: old", "D: 4"});
    list.SetFoldLines(false);
    list.AssignValue("Server", "new");
    list.AssignValue("Content-Type", "");
    list.AssignValue("B", "");
    list.AssignValue("E", "5");
    EXPECT_EQ(LinesOf(list),
              (std::vector<std::string>{"A: 1", "C: 3", "Server: new", "D: 4", "E: 5"}));
}

TEST(TNetHeaderListTest, FoldingListReplacesContinuationsAndWraps) {
    TNetHeaderList list = ListOf({"X: old", " continued", "Y: y"});
    list.AssignValue("X", "short");
    EXPECT_EQ(LinesOf(list), (std::vector<std::string>{"X: short", "Y: y"}));
    list.SetFoldWidth(10);
    list.AssignValue("X", "aaaa bbbb cccc \"dd ee ff\" g");
    EXPECT_EQ(LinesOf(list),
              (std::vector<std::string>{"X: aaaa", " bbbb cccc", " \"dd ee ff\"", " g", "Y: y"}));
    EXPECT_EQ(list.ValueOf("X"), "aaaa bbbb cccc \"dd ee ff\" g");
    list.AssignValue("X", "");
    EXPECT_EQ(LinesOf(list), (std::vector<std::string>{"Y: y"}));
    list.AssignValue("Z", "averyveryverylongword x"); // a word is never split
    EXPECT_EQ(LinesOf(list),
              (std::vector<std::string>{"Y: y", "Z:", " averyveryverylongword", " x"}));
}

// The lines share one store: a line taken from the list itself, edits that leave bytes behind
// and copies must all keep every line as it was given.
TEST(TNetHeaderListTest, EditsKeepEveryLineWhole) {
    TNetHeaderList list = ListOf({"A: 1", "B: 2"});
    list.SetFoldLines(false);
    for (int i = 0; i < 100; ++i) // the store grows and drops replaced bytes meanwhile
        list.Add(list.Strings(i % 2));
    EXPECT_EQ(list.Count(), 102);
    EXPECT_EQ(list.Strings(101), "B: 2");
    for (int i = 0; i < 1000; ++i)
        list.Put(1, std::string(i % 50, 'x') + std::string(list.Strings(0).substr(0, 3)) +
                        std::to_string(i));
    EXPECT_EQ(list.Strings(1), std::string(49, 'x') + "A: 999");
    list.Insert(0, list.Strings(1));
    list.AssignValue("Y", list.Strings(2));
    list.AssignValue("A", list.Strings(3));
    TNetHeaderList copy = list;
    list.Clear();
    list.Add("Z: after");
    EXPECT_EQ(copy.Count(), 104);
    EXPECT_EQ(copy.Strings(0), std::string(49, 'x') + "A: 999");
    EXPECT_EQ(copy.Strings(1), "A: A: 1");
    EXPECT_EQ(copy.Strings(3), "A: 1");
    EXPECT_EQ(copy.Strings(4), "B: 2");
    EXPECT_EQ(copy.ValueOf("Y"), std::string(49, 'x') + "A: 999");
    EXPECT_EQ(LinesOf(list), (std::vector<std::string>{"Z: after"}));
    EXPECT_EQ(copy.Text().size(), copy.TextSize());
    EXPECT_EQ(copy.Text().substr(0, 8), std::string(8, 'x'));
}

TEST(TNetHeaderListTest, BuiltLinesAndTheirText) {
    TNetHeaderList list;
    EXPECT_TRUE(list.AddBuilt([](std::string& ALine) {
        ALine += "Date: now";
        return true;
    }));
    EXPECT_FALSE(list.AddBuilt([](std::string& ALine) { // a line given up leaves nothing
        ALine += "Cache-Control: ";
        return false;
    }));
    list.Add("");
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Text(), "Date: now\r\n\r\n");
    EXPECT_EQ(list.TextSize(), 13u);
    std::string block = "HTTP/1.1 200 OK\r\n";
    list.AppendText(block);
    EXPECT_EQ(block, "HTTP/1.1 200 OK\r\nDate: now\r\n\r\n");
}
