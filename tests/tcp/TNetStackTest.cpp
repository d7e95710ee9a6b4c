#include "tcp/TNetStack.h"

#include <gtest/gtest.h>

#include "tcp/NetExceptions.h"
#include "tcp/TNetComponent.h"

TEST(TNetStackTest, ErrorTextsKeepTheirExactForm) {
    TNetComponent user;
    EXPECT_EQ(SocketStack().ErrorText(10066), "Socket Error # 10066\r\nDirectory not empty");
    EXPECT_EQ(SocketStack().ErrorText(11001), "Socket Error # 11001\r\n");
}
