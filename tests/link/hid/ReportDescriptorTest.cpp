// Report lengths from real-looking descriptors, and what udev says mapped into a device.
#include "link/hid/ReportDescriptor.h"

#include <gtest/gtest.h>

using namespace rd780;

TEST(ReportDescriptor, PlainVendorDeviceLikeTheCable) {
    const std::vector<std::uint8_t> d = {0x06, 0xA0, 0xFF,       // usage page (vendor)
                                         0x09, 0x01,             // usage
                                         0xA1, 0x01,             // collection (application)
                                         0x09, 0x01, 0x15, 0x00, // usage, logical minimum 0
                                         0x26, 0xFF, 0x00,       // logical maximum 255
                                         0x75, 0x08, 0x95, 0x0A, // 8 bits x 10
                                         0x81, 0x02,             // input
                                         0x09, 0x02, 0x95, 0x08, // 8 bits x 8
                                         0x91, 0x02,             // output
                                         0x09, 0x03, 0x95, 0x09, // 8 bits x 9
                                         0xB1, 0x02,             // feature
                                         0xC0};
    const ReportLengths r = parseReportDescriptor(d);
    EXPECT_TRUE(r.valid);
    EXPECT_FALSE(r.usesReportIds);
    // The report ID byte is counted even when reports are not numbered.
    EXPECT_EQ(r.input, 11);
    EXPECT_EQ(r.output, 9);
    EXPECT_EQ(r.feature, 10);
}

TEST(ReportDescriptor, KeyboardAndConsumerControlWithReportIds) {
    const std::vector<std::uint8_t> d = {
        0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x85, 0x01,             // keyboard, report 1
        0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00, 0x25, 0x01, //
        0x75, 0x01, 0x95, 0x08, 0x81, 0x02,                         // modifiers: 8 bits
        0x95, 0x01, 0x75, 0x08, 0x81, 0x01,                         // reserved: 8 bits
        0x95, 0x05, 0x75, 0x01, 0x05, 0x08, 0x19, 0x01, 0x29, 0x05, //
        0x91, 0x02,                                                 // LEDs: 5 bits out
        0x95, 0x01, 0x75, 0x03, 0x91, 0x01,                         // padding: 3 bits out
        0x95, 0x06, 0x75, 0x08, 0x15, 0x00, 0x25, 0x65, 0x05, 0x07, //
        0x19, 0x00, 0x29, 0x65, 0x81, 0x00,                         // keys: 48 bits
        0xC0,                                                       //
        0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x02,             // consumer, report 2
        0x15, 0x00, 0x26, 0xFF, 0x03, 0x19, 0x00, 0x2A, 0xFF, 0x03, //
        0x75, 0x10, 0x95, 0x01, 0x81, 0x00,                         // 16 bits
        0xC0};
    const ReportLengths r = parseReportDescriptor(d);
    EXPECT_TRUE(r.valid);
    EXPECT_TRUE(r.usesReportIds);
    EXPECT_EQ(r.input, 9); // report 1: 8 bytes, the longest
    EXPECT_EQ(r.output, 2);
    EXPECT_EQ(r.feature, 0);
}

TEST(ReportDescriptor, NestedCollectionsPushPopLongItemsAndTruncation) {
    std::vector<std::uint8_t> d = {
        0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, // mouse, pointer
        0x05, 0x09, 0x19, 0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01, //
        0x95, 0x03, 0x75, 0x01, 0x81, 0x02,                         // buttons: 3 bits
        0x95, 0x01, 0x75, 0x05, 0x81, 0x03,                         // padding: 5 bits
        0x05, 0x01, 0x09, 0x30, 0x09, 0x31,                         //
        0x15, 0x81, 0x27, 0xFF, 0x7F, 0x00, 0x00,                   // four-byte maximum
        0x75, 0x08, 0x95, 0x02, 0x81, 0x06,                         // x, y: 16 bits
        0xA4,                                                       // push
        0x75, 0x10, 0x95, 0x01, 0x09, 0x38, 0x81, 0x06,             // wheel: 16 bits
        0xB4,                                                       // pop: 8 bits x 2 again
        0xFE, 0x02, 0x10, 0xAA, 0xBB,                               // long item, skipped
        0x95, 0x01, 0x09, 0x38, 0x81, 0x06,                         // pan: 8 bits
        0xC0, 0xC0};
    ReportLengths r = parseReportDescriptor(d);
    EXPECT_TRUE(r.valid);
    EXPECT_EQ(r.input, 7); // 48 bits
    EXPECT_EQ(r.output, 0);

    d.push_back(0x27); // a four-byte item cut short
    d.push_back(0x01);
    r = parseReportDescriptor(d);
    EXPECT_FALSE(r.valid);
    EXPECT_EQ(r.input, 7);
    EXPECT_EQ(parseReportDescriptor(nullptr, 0).input, 0);
}

TEST(UdevMapping, UsbStringsWinAndHidPropertiesFillIn) {
    const std::map<std::string, std::string> hid = {{"HID_ID", "0003:00001A86:0000E008"},
                                                    {"HID_NAME", "Acme USB to Serial"},
                                                    {"HID_UNIQ", "uniq-1"}};
    UdevHidInfo i = mapUdevProperties(hid, {{"product", "USB to Serial"}, {"bcdDevice", "1200"}});
    EXPECT_TRUE(i.identified);
    EXPECT_EQ(i.vendorId, 0x1A86);
    EXPECT_EQ(i.productId, 0xE008);
    EXPECT_EQ(i.version, 0x1200);
    EXPECT_EQ(i.product, u"USB to Serial");
    EXPECT_EQ(i.serial, u"uniq-1"); // the USB device has no serial attribute

    // No USB parent (for example a Bluetooth device): the HID name is all there is.
    i = mapUdevProperties(hid, {});
    EXPECT_EQ(i.product, u"Acme USB to Serial");
    EXPECT_EQ(i.version, 0);

    i = mapUdevProperties({{"HID_ID", "0003:00001A86:0000E008"}, {"HID_UNIQ", "x"}},
                          {{"product", "Mäter"}, {"serial", "SN 7"}});
    EXPECT_EQ(i.product, u"M\u00e4ter");
    EXPECT_EQ(i.serial, u"SN 7");
}

TEST(UdevMapping, MalformedIdsAreNotIdentifiedAndIdentityFollowsTheConnection) {
    for (const char* bad :
         {"", "0003", "0003:1A86", "0003:XYZ:0001", "0003:000123456:0001", "0003:1A86:"}) {
        EXPECT_FALSE(mapUdevProperties({{"HID_ID", bad}}, {}).identified) << bad;
    }
    const std::string node =
        "/sys/devices/pci0000:00/usb1/1-2/1-2:1.0/0003:1A86:E008.0004/hidraw/hidraw0";
    EXPECT_EQ(instanceIdentity(node, "123/4"), instanceIdentity(node, "123/4"));
    EXPECT_NE(instanceIdentity(node, "123/4"), instanceIdentity(node, "987/5"));
    EXPECT_NE(instanceIdentity(node, "123/4"), instanceIdentity(node + "x", "123/4"));
}
