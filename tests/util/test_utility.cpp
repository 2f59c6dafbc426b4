#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

#include "util/utility.hpp"

using namespace VELKOR::UTILITY;

TEST(Utility, HexDumps)
{
    struct Row {
        std::vector<uint8_t> bytes;
        std::string title;
        unsigned int limit;
        std::string expected;
    };
    const Row rows[] = {
        {{0x01, 0xAB}, "", 2, "hex : { 01 AB } TOTAL(2)"},
        {{0x01, 0xAB}, "Sent", 32, "\n> Sent\nhex : { 01 AB } TOTAL(2)"},
        {{}, "", 32, "hex : { } TOTAL(0)"},
        {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, "", 2, "hex : { 00 01 \n...\n02 08 09 } TOTAL(10)"},
        {{0, 1, 2, 3, 4}, "", 3, "hex : { 00 01 02 \n...\n03 04 } TOTAL(5)"},
        {{0x0F, 0xF0}, "", 0, "hex : { \n...\n0F } TOTAL(2)"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(hex_array_to_string(row.bytes.data(), static_cast<unsigned int>(row.bytes.size()),
                                      row.title, row.limit),
                  row.expected);
    }
}

TEST(Utility, HexDumpOfMoreThan65535BytesEnds)
{
    std::vector<uint8_t> bytes(70000, 0xAA);
    bytes.back() = 0x5C;
    const std::string dump = hex_array_to_string(bytes.data(), 70000, "", 70000);
    EXPECT_EQ(dump.size(), std::string("hex : { ").size() + 3 * 70000 + std::string("} TOTAL(70000)").size());
    EXPECT_NE(dump.find("AA 5C } TOTAL(70000)"), std::string::npos);

    const std::string cut = hex_array_to_string(bytes.data(), 70000, "", 1);
    EXPECT_EQ(cut, "hex : { AA \n...\nAA 5C } TOTAL(70000)");
}

TEST(Utility, PrintHexEndsTheLineInDecimal)
{
    const uint8_t bytes[] = {0x10, 0xFE};
    testing::internal::CaptureStdout();
    print_hex(bytes, 2, "T", 32);
    std::cout << 255;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n> T\nhex : { 10 FE } TOTAL(2)\n255");
}

TEST(Utility, ChecksumXorsIntoTheGivenByte)
{
    const uint8_t bytes[] = {0x01, 0x02, 0x04};
    uint8_t checksum = 0;
    calculate_checksum(&checksum, bytes, 3);
    EXPECT_EQ(checksum, 0x07);
    calculate_checksum(&checksum, bytes, 1);
    EXPECT_EQ(checksum, 0x06);
    checksum = 0xFF;
    calculate_checksum(&checksum, bytes, 0);
    EXPECT_EQ(checksum, 0xFF);
}

TEST(Utility, RangeToColor)
{
    struct Row {
        uint16_t v, max, min;
        std::array<uint8_t, 3> expected;
    };
    const Row rows[] = {
        {0, 255, 0, {0, 0, 255}},        {1, 255, 0, {0, 2, 253}},     {127, 255, 0, {0, 254, 1}},
        {128, 255, 0, {0, 255, 0}},                                    // s = 256 mod 256
        {129, 255, 0, {2, 253, 0}},      {200, 255, 0, {144, 111, 0}}, // t = 200, s = 400 mod 256
        {255, 255, 0, {254, 1, 0}},      {64, 128, 0, {0, 0, 255}}, // t = 127.5 rounds to 128, s wraps to 0
        {300, 300, 300, {0, 255, 0}},                               // equal bounds: scale 1
        {1000, 2000, 1000, {0, 255, 0}}, // branch by the raw value, not the scaled one
        {1000, 1000, 0, {254, 1, 0}},    {25, 0, 20, {0, 128, 127}}, // inverted bounds: t = -64 -> 192, s =
                                                                     // 128
    };
    for (const Row& row : rows) {
        EXPECT_EQ(range_to_color(row.v, row.max, row.min), row.expected)
            << row.v << " in [" << row.min << ", " << row.max << "]";
    }
}

namespace {

// A fake tty class directory: entries with or without a device behind them.
class FakeSysfs {
public:
    FakeSysfs() : root_(std::string(VELKOR_TEST_TMP) + "/sysfs_" + std::to_string(getpid()))
    {
        run("rm -rf " + root_ + " && mkdir -p " + root_ + "/class/tty " + root_ + "/devices");
    }
    ~FakeSysfs() { run("rm -rf " + root_); }

    std::string tty_dir() const { return root_ + "/class/tty"; }

    // A tty entry without a device link (a virtual terminal, say).
    void add_virtual(const std::string& name) { run("mkdir -p " + tty_dir() + "/" + name); }

    // A tty whose device sits below a USB device with a product string.
    void add_usb(const std::string& name, const std::string& product)
    {
        const std::string usb = root_ + "/devices/usb_" + name;
        run("mkdir -p " + usb + "/if0/" + name + " " + tty_dir() + "/" + name);
        std::ofstream(usb + "/product") << product << "\n";
        run("ln -s " + usb + "/if0/" + name + " " + tty_dir() + "/" + name + "/device");
    }

    // A UART with a driver; type 0 marks a slot without hardware.
    void add_uart(const std::string& name, int type)
    {
        const std::string dev = root_ + "/devices/uart_" + name;
        run("mkdir -p " + dev + " " + root_ + "/drivers/serial8250 " + tty_dir() + "/" + name);
        run("ln -s " + root_ + "/drivers/serial8250 " + dev + "/driver");
        run("ln -s " + dev + " " + tty_dir() + "/" + name + "/device");
        std::ofstream(tty_dir() + "/" + name + "/type") << type << "\n";
    }

private:
    static void run(const std::string& command) { ASSERT_EQ(system(command.c_str()), 0) << command; }

    std::string root_;
};

} // namespace

TEST(Utility, EnumSerialportListsDevicesWithHardwareBehindThem)
{
    FakeSysfs sysfs;
    sysfs.add_virtual("tty1");
    sysfs.add_virtual("console");
    sysfs.add_usb("ttyUSB0", "FT232R USB UART");
    sysfs.add_usb("ttyACM12", "Sensor Bridge");
    sysfs.add_uart("ttyS0", 4);
    sysfs.add_uart("ttyS1", 0);
    sysfs.add_uart("ttyS4", 4);
    sysfs.add_usb("ttyGS", "Gadget"); // no trailing digits: no number

    using Port = std::pair<unsigned int, std::string>;
    const std::vector<Port> expected = {
        {12, "Sensor Bridge (/dev/ttyACM12)"},
        {0, "serial8250 (/dev/ttyS0)"},
        {4, "serial8250 (/dev/ttyS4)"},
        {13, "FT232R USB UART (/dev/ttyUSB0)"}, // 0 is taken: next above the largest
    };
    EXPECT_EQ(enum_serialport(sysfs.tty_dir()), expected);
    EXPECT_TRUE(enum_serialport(sysfs.tty_dir() + "/missing").empty());
}

TEST(Utility, EnumSerialportOfThisHostNamesTheirDevicePaths)
{
    for (const auto& port : enum_serialport()) {
        EXPECT_NE(port.second.find(" (/dev/"), std::string::npos) << port.second;
    }
}
