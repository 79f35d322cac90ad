#include "link/capture/CaptureFile.h"

#include "record/FileWriter.h"

#include <algorithm>
#include <ctime>
#include <fstream>

namespace rd780 {

namespace {

const std::string Magic = "rd780 capture 1 link=";

std::int64_t monotonicUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

} // namespace

bool readCapture(const std::string& path, Capture& out, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "capture " + path + ": cannot be opened";
        return false;
    }
    out = {};
    std::string line;
    if (!std::getline(in, line) || line.rfind(Magic, 0) != 0) {
        error = "capture " + path + ": not a capture (its first line must begin \"" + Magic + "\")";
        return false;
    }
    out.header = line;
    const std::string link = line.substr(Magic.size(), line.find(' ', Magic.size()) - Magic.size());
    if (link == "usb-hid") {
        out.link = LinkKind::Usb;
    } else if (link == "serial") {
        out.link = LinkKind::Serial;
    } else {
        error = "capture " + path + ": unknown link '" + link + "'";
        return false;
    }
    std::int64_t last = 0;
    for (std::size_t number = 2; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        auto bad = [&](const std::string& why) {
            error = "capture " + path + ", line " + std::to_string(number) + ": " + why;
            return false;
        };
        const std::size_t space = line.find(' ');
        if (space == 0 || space == std::string::npos || space > 15 ||
            line.find_first_not_of("0123456789") != space)
            return bad("expected microseconds, a space and hexadecimal bytes");
        CaptureRecord r;
        r.us = std::stoll(line.substr(0, space));
        if (r.us < last) return bad("time goes backwards");
        last = r.us;
        const std::string hex = line.substr(space + 1);
        if (hex.empty() || hex.size() % 2 != 0) return bad("an odd number of hexadecimal digits");
        for (std::size_t i = 0; i < hex.size(); i += 2) {
            const int hi = hexValue(hex[i]), lo = hexValue(hex[i + 1]);
            if (hi < 0 || lo < 0) return bad("'" + hex.substr(i, 2) + "' is not a byte");
            r.bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
        }
        out.records.push_back(std::move(r));
    }
    return true;
}

CaptureWriter::CaptureWriter(std::string path, LinkKind link, std::string source)
    : path_(std::move(path)), link_(link), source_(std::move(source)) {}

CaptureWriter::~CaptureWriter() = default;

bool CaptureWriter::open(std::string& error) {
    out_ = std::make_unique<FileWriter>(path_);
    std::string quoted;
    for (const char c : source_)
        if (c != '"' && c != '\n' && c != '\r') quoted += c;
    out_->add(Magic + (link_ == LinkKind::Usb ? "usb-hid" : "serial") + " source=\"" + quoted +
              "\"\n");
    startUs_ = monotonicUs();
    return flush(error);
}

void CaptureWriter::record(const std::uint8_t* data, std::size_t size) {
    if (!out_ || size == 0) return;
    static const char digits[] = "0123456789ABCDEF";
    std::string line = std::to_string(monotonicUs() - startUs_) + ' ';
    for (std::size_t i = 0; i < size; ++i) {
        line += digits[data[i] >> 4];
        line += digits[data[i] & 15];
    }
    out_->add(line + '\n');
}

void CaptureWriter::hidReport(std::uint8_t id, const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> report(size + 1);
    report[0] = id;
    std::copy_n(data, size, report.begin() + 1);
    record(report.data(), report.size());
}

bool CaptureWriter::flush(std::string& error) {
    if (!out_ || out_->flush()) return true;
    error = "capture " + path_ + ": " + out_->error();
    return false;
}

bool CaptureWriter::finish(std::string& error) {
    if (!out_) return true;
    const bool ok = out_->finish();
    if (!ok) error = "capture " + path_ + ": " + out_->error();
    out_.reset();
    return ok;
}

} // namespace rd780
