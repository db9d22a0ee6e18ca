#include "gateway/net/listener.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace ov::gateway {
namespace {

using asio::ip::tcp;
using namespace std::chrono_literals;

// Runs io until done() or the limit has passed.
template <typename Done>
bool RunUntil(asio::io_context& io, Done done, std::chrono::milliseconds limit = 5s) {
    const auto until = std::chrono::steady_clock::now() + limit;
    io.restart();
    while (!done() && std::chrono::steady_clock::now() < until) io.run_one_for(20ms);
    return done();
}

// What the proxy port relies on: users accepted into the context it names,
// one at a time while it decides, and a pending accept it can wait out.
TEST(Listener, AnOwnerThatHoldsTheNextAcceptGetsUsersOneByOneInTheContextItNames) {
    asio::io_context io, loop;
    Listener listener(io, "test");
    ASSERT_FALSE(listener.Open(tcp::endpoint(asio::ip::address_v4::loopback(), 0)));
    const uint16_t port = listener.Port();
    ASSERT_NE(port, 0);

    // The port is taken: the error says so, at the bind.
    Listener second(io, "test");
    Listener::Step step = Listener::Step::Open;
    EXPECT_TRUE(second.Open(tcp::endpoint(asio::ip::address_v4::loopback(), port), &step));
    EXPECT_EQ(step, Listener::Step::Bind);
    EXPECT_EQ(second.Port(), 0);

    std::vector<tcp::socket> users;
    int contexts = 0;
    Listener::Handlers handlers;
    handlers.context = [&]() -> asio::io_context& {
        ++contexts;
        return loop;
    };
    handlers.accepted = [&](tcp::socket s) {
        users.push_back(std::move(s));
        return false;  // the owner decides first
    };
    handlers.dead = [](const std::error_code&) { ADD_FAILURE() << "listener taken for dead"; };
    listener.Accept(std::move(handlers));

    asio::io_context clients;
    std::vector<tcp::socket> connected;
    for (int i = 0; i < 3; ++i) {
        connected.emplace_back(clients);
        connected.back().connect(tcp::endpoint(asio::ip::address_v4::loopback(), port));
    }
    ASSERT_TRUE(RunUntil(io, [&] { return users.size() == 1; }));
    EXPECT_TRUE(users[0].get_executor() == loop.get_executor());
    EXPECT_FALSE(listener.Accepting());
    // Held: the other users wait in the queue until the owner says.
    RunUntil(
        io, [] { return false; }, 200ms);
    EXPECT_EQ(users.size(), 1u);
    listener.Accept();
    ASSERT_TRUE(RunUntil(io, [&] { return users.size() == 2; }));
    EXPECT_EQ(contexts, 2);

    // Closed with an accept under way: it stays pending until its cancelled
    // completion has run, and hands nobody over.
    listener.Accept();
    EXPECT_TRUE(listener.Accepting());
    EXPECT_FALSE(listener.Close());
    EXPECT_TRUE(RunUntil(io, [&] { return !listener.Accepting(); }));
    EXPECT_EQ(users.size(), 2u);
}

}  // namespace
}  // namespace ov::gateway
