#include "platform/limits.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace ov::platform {
namespace {

#ifndef _WIN32
// The soft limit is lowered for the test and put back after it, so the
// rest of the program runs with what it started with.
class SoftDescriptorLimit : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &m_saved), 0); }
    void TearDown() override { EXPECT_EQ(::setrlimit(RLIMIT_NOFILE, &m_saved), 0); }
    static uint64_t Soft() {
        struct rlimit l {};
        ::getrlimit(RLIMIT_NOFILE, &l);
        return l.rlim_cur;
    }
    struct rlimit m_saved {};
};

TEST_F(SoftDescriptorLimit, IsRaisedUpToTheHardLimitAndNeverLowered) {
    const rlim_t hard = m_saved.rlim_max;
    if (hard != RLIM_INFINITY && hard < 200)
        GTEST_SKIP() << "a hard limit of " << hard << " leaves no room to test";
    struct rlimit low = m_saved;
    low.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);

    EXPECT_EQ(RaiseDescriptorLimit(32), 64u) << "a lower wish leaves the limit";
    EXPECT_EQ(Soft(), 64u);
    EXPECT_EQ(RaiseDescriptorLimit(150), 150u);
    EXPECT_EQ(Soft(), 150u);
    if (hard != RLIM_INFINITY) {
        EXPECT_EQ(RaiseDescriptorLimit(uint64_t(hard) + 1000), uint64_t(hard))
            << "no more than the hard limit";
        EXPECT_EQ(Soft(), uint64_t(hard));
    }
}
#else
TEST(DescriptorLimit, SocketsHaveNoneOnWindows) {
    EXPECT_EQ(RaiseDescriptorLimit(6200), 6200u);
}
#endif

}  // namespace
}  // namespace ov::platform
