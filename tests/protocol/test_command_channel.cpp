#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "loopback.hpp"
#include "session/device_session.hpp"
#include "session/settings_file.hpp"
#include "transport/ext_interface_tcp_client.hpp"

using TQZ::DeviceSession;
using nlohmann::json;

namespace {

std::string temp_path(const std::string& name) { return std::string(VELKOR_TEST_TMP) + "/cc_" + name; }

std::string read_text(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_text(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// Writes `value` through json_write_to_file and returns the file's text.
std::string written(json value, const std::string& name = "out.json")
{
    const std::string path = temp_path(name);
    EXPECT_TRUE(TQZ::write_settings_file(path.c_str(), value));
    return read_text(path);
}

}  // namespace

TEST(JsonFile, LayoutIsOneMemberPerLineWithArraysKeptWhole)
{
    struct Case {
        json value;
        const char* text;
    };
    const Case cases[] = {
        {json::parse(R"({"a":1,"b":[1,2],"c":{"d":2}})"),
         "{\n   \"a\":1,\n   \"b\":[1,2],\n   \"c\":{\n   \"d\":2\n}\n}"},
        {json::parse(R"({"list":[{"x":1,"y":2},{"x":3}],"n":null})"),
         "{\n   \"list\":[{\"x\":1,\"y\":2},{\"x\":3}],\n   \"n\":null\n}"},
        {json::object(), "{\n   \n}"},
        {json::parse("[1,2]"), "[1,2]"},
        {json::parse("5"), "5"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(written(c.value), c.text) << c.value.dump();
    }
}

TEST(JsonFile, StringsWithBracesAndCommasStayIntact)
{
    const json value = json::parse(R"({"note":"a{b},c","q":"say \"x,y\" [z]","list":["p,q","}"],"k":1})");
    const std::string text = written(value, "strings.json");
    EXPECT_EQ(text,
              "{\n   \"k\":1,\n   \"list\":[\"p,q\",\"}\"],\n   \"note\":\"a{b},c\",\n"
              "   \"q\":\"say \\\"x,y\\\" [z]\"\n}");
    json back;
    ASSERT_TRUE(TQZ::read_settings_file(temp_path("strings.json").c_str(), back));
    EXPECT_EQ(back, value);
}

TEST(JsonFile, RoundTripOfASettingsDocument)
{
    const json value = {
        {"PL_Reg", {{"walk_err_param", {-56548.832, 0.17180148, 56550.078, 0.17181453, 1258.0, 702.8}}}},
        {"IP_Setting", {{"tq_ip", "192.168.1.10"}, {"tq_port", "2000"}}},
        {"flag", true},
    };
    const std::string path = temp_path("settings.json");
    json copy = value;
    ASSERT_TRUE(TQZ::write_settings_file(path.c_str(), copy));
    json back;
    ASSERT_TRUE(TQZ::read_settings_file(path.c_str(), back));
    EXPECT_EQ(back, value);
}

TEST(JsonFile, ReadFailures)
{
    json out = {{"kept", 1}};
    testing::internal::CaptureStderr();
    EXPECT_FALSE(TQZ::read_settings_file(temp_path("missing.json").c_str(), out));
    EXPECT_FALSE(TQZ::read_settings_file(VELKOR_TEST_TMP, out));  // a directory
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(out, json({{"kept", 1}}));

    const char* broken[] = {"{\"a\":", "", "{\"a\":1} {\"b\":2}", "// comment\n{}", "{\"a\":\"\xff\"}"};
    for (const char* text : broken) {
        write_text(temp_path("broken.json"), text);
        testing::internal::CaptureStderr();
        EXPECT_FALSE(TQZ::read_settings_file(temp_path("broken.json").c_str(), out)) << text;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "json parse error\n") << text;
        EXPECT_EQ(out, json({{"kept", 1}}));
    }

    // Through the API the caller also learns why.
    VELKOR::LidarTQ api;
    const std::string missing = temp_path("missing.json");
    EXPECT_FALSE(api.json_read_from_file(missing.c_str(), out));
    EXPECT_EQ(api.last_error(), "cannot open " + missing + ": No such file or directory");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(api.json_read_from_file(temp_path("broken.json").c_str(), out));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(api.last_error(), "cannot read " + temp_path("broken.json") + ": not one JSON document");
}

TEST(JsonFile, UnwritableValueLeavesTheFileAlone)
{
    const std::string path = temp_path("keep.json");
    write_text(path, "{\"old\":1}");
    json bad = {{"s", std::string("\xff\xfe")}};
    testing::internal::CaptureStderr();
    EXPECT_FALSE(TQZ::write_settings_file(path.c_str(), bad));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "json type error\n");
    EXPECT_EQ(read_text(path), "{\"old\":1}");

    json fine = 1;
    EXPECT_FALSE(TQZ::write_settings_file((temp_path("no/such/dir") + "/x.json").c_str(), fine));
}

TEST(CommandChannel, NothingIsSentWhileDisconnected)
{
    DeviceSession session;
    json message = {{"command", "run"}};
    EXPECT_FALSE(session.send_json(message));
    EXPECT_FALSE(session.json_write_to_memory());
    EXPECT_FALSE(session.json_read_from_memory());
    EXPECT_TRUE(session.command_link().settings_reply_expected());  // the route is set before the link is checked

    json out = {{"old", true}};
    EXPECT_FALSE(session.get_setting(out));
    EXPECT_TRUE(out.is_null());
}

TEST(CommandChannel, FixedCommandBytesAndRoutes)
{
    DeviceSession session;
    const int listen_fd = loopback::listener();
    VELKOR::ExtInterface_TCP_client::IpSettings settings("127.0.0.1", 0, "127.0.0.1",
                                                         loopback::local_port(listen_fd), 1000);
    ASSERT_TRUE(session.command_link().connect(settings));
    const int peer = accept(listen_fd, nullptr, nullptr);
    ASSERT_GE(peer, 0);

    auto take = [&](std::size_t n) {
        std::string got;
        char buf[256];
        while (got.size() < n) {
            const ssize_t k = recv(peer, buf, std::min(sizeof buf, n - got.size()), 0);
            if (k <= 0) {
                break;
            }
            got.append(buf, static_cast<std::size_t>(k));
        }
        return got;
    };

    ASSERT_TRUE(session.json_read_from_memory());
    EXPECT_EQ(take(23), "{\"command\":\"json_read\"}");
    EXPECT_TRUE(session.command_link().settings_reply_expected());

    ASSERT_TRUE(session.json_write_to_memory());
    EXPECT_EQ(take(23), "{\"command\":\"json_save\"}");
    EXPECT_FALSE(session.command_link().settings_reply_expected());

    json message = {{"IP_Setting", {{"tq_port", 2000}, {"tq_ip", "192.168.1.10"}}}};
    ASSERT_TRUE(session.send_json(message));
    const std::string compact = message.dump();
    EXPECT_EQ(take(compact.size()), compact);

    ASSERT_TRUE(session.run());
    EXPECT_EQ(take(17), "{\"command\":\"run\"}");
    ASSERT_TRUE(session.stop());
    EXPECT_EQ(take(18), "{\"command\":\"stop\"}");

    json bad = {{"s", std::string("\xc3")}};
    testing::internal::CaptureStderr();
    EXPECT_FALSE(session.send_json(bad));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "json type error\n");

    // Replies: one chunk each; raw while json_mode is off.
    send(peer, "{\"x\":1}", 7, 0);
    ASSERT_TRUE(loopback::wait_for([&] { return session.command_link().replies_waiting() == 1; }));
    session.command_link().switch_to_binary();
    send(peer, "\x08\x00" "FA", 4, 0);
    ASSERT_TRUE(loopback::wait_for([&] { return session.command_link().binary_replies_waiting() == 1; }));
    TQZ::ByteVector raw;
    ASSERT_TRUE(session.command_link().wait_binary_reply(raw, std::chrono::milliseconds(0)));
    EXPECT_EQ(raw, (TQZ::ByteVector{8, 0, 'F', 'A'}));

    session.command_link().disconnect();
    close(peer);
    close(listen_fd);
}
