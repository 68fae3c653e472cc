// Winsock for the whole test program, as start-up does for the launcher (host names are
// resolved for the error dialog's title).
#include <winsock2.h>

#include <gtest/gtest.h>

namespace {

class WinsockEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    }
    void TearDown() override { WSACleanup(); }
};

const ::testing::Environment* const kWinsock = ::testing::AddGlobalTestEnvironment(new WinsockEnvironment);

}  // namespace
