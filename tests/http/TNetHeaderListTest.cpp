#include "http/TNetHeaderList.h"

#include <gtest/gtest.h>

static TNetHeaderList ListOf(std::initializer_list<const char*> ALines) {
    TNetHeaderList list;
    for (const char* line : ALines)
        list.Add(line);
    return list;
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
    EXPECT_EQ(list.Lines(),
              (std::vector<std::string>{"A: 1", "C: 3", "Server: new", "D: 4", "E: 5"}));
}

TEST(TNetHeaderListTest, FoldingListReplacesContinuationsAndWraps) {
    TNetHeaderList list = ListOf({"X: old", " continued", "Y: y"});
    list.AssignValue("X", "short");
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"X: short", "Y: y"}));
    list.SetFoldWidth(10);
    list.AssignValue("X", "aaaa bbbb cccc \"dd ee ff\" g");
    EXPECT_EQ(list.Lines(),
              (std::vector<std::string>{"X: aaaa", " bbbb cccc", " \"dd ee ff\"", " g", "Y: y"}));
    EXPECT_EQ(list.ValueOf("X"), "aaaa bbbb cccc \"dd ee ff\" g");
    list.AssignValue("X", "");
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"Y: y"}));
    list.AssignValue("Z", "averyveryverylongword x"); // a word is never split
    EXPECT_EQ(list.Lines(),
              (std::vector<std::string>{"Y: y", "Z:", " averyveryverylongword", " x"}));
}
