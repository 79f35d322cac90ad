#pragma once
// Captures of the raw link, for bug reports about a cable the developers don't have: what
// the link delivered (each HID input report, report ID first, or the serial bytes of each
// read) with a monotonic time stamp, as text a user can attach and read:
//
//   rd780 capture 1 link=usb-hid source="USB to Serial"
//   0 00F15A
//   4012 00F9000305055980010101
//
// The first line names the link; each further line is the microseconds since the capture
// began and the bytes in hexadecimal. Plain C++.
#include "link/LinkWatch.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace rd780 {

class FileWriter;

struct CaptureRecord {
    std::int64_t us = 0; // since the capture began
    std::vector<std::uint8_t> bytes;
};

struct Capture {
    LinkKind link = LinkKind::Usb;
    std::string header;
    std::vector<CaptureRecord> records;
};

// Reads a capture; false with the reason (and the line) when the file is not one.
bool readCapture(const std::string& path, Capture& out, std::string& error);

class CaptureWriter {
public:
    // source: what the link was opened on (a device path, the cable's name).
    CaptureWriter(std::string path, LinkKind link, std::string source);
    ~CaptureWriter();
    // Creates (or empties) the file and writes the header. False with the reason.
    bool open(std::string& error);
    // One delivery of the link, stamped now.
    void record(const std::uint8_t* data, std::size_t size);
    // A HID input report as the device hands it over: the ID apart from the data.
    void hidReport(std::uint8_t id, const std::uint8_t* data, std::size_t size);
    // Hands what was recorded to the system; false with the reason once a write failed.
    bool flush(std::string& error);
    bool finish(std::string& error);
    LinkKind link() const { return link_; }

private:
    std::string path_;
    LinkKind link_;
    std::string source_;
    std::int64_t startUs_ = 0;
    std::unique_ptr<FileWriter> out_;
};

} // namespace rd780
