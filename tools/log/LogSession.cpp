#include "tools/log/LogSession.h"

#include "link/hid/SimulatedHidServices.h"
#include "mqtt/MqttPublisher.h"
#include "record/JsonLinesSink.h"

#include <cstdio>
#include <cstdlib>

namespace rd780::log {

namespace {

SessionOptions sessionOptions(const LogOptions& o, LogSeams seams) {
    SessionOptions s;
    s.link = o.link;
    s.hid = std::move(seams.hid);
    s.linkClock = std::move(seams.linkClock);
    if (o.simulated) {
        auto sim = std::make_shared<SimulatedHidServices>();
        sim->addDevice();
        s.hid = sim;
        s.linkName = "simulated cable";
    }
    s.usbDevice = o.usbDevice;
    s.serialDevice = o.serialDevice;
    s.replay = o.replay;
    s.speed = o.speed;
    s.capture = o.capture;
    s.table = o.table;
    s.csv = o.csv;
    s.limit = o.limit;
    s.intervalSeconds = o.intervalSeconds;
    s.skipRepeats = o.skipRepeats;
    s.readError = SessionOptions::ReadError::Count;
    s.message = [](const std::string& m) { std::fprintf(stderr, "rd780-log: %s\n", m.c_str()); };
    s.endAtLimit = true;
    s.limitGate = RecordingRule::LimitGate::StopAtLimit;
    s.backgroundSync = false;
    return s;
}

} // namespace

LogSession::LogSession(const LogOptions& options,
                       std::function<void(int, const std::string&)> ended, LogSeams seams)
    : MeterSession(sessionOptions(options, std::move(seams))), options_(options) {
    if (ended) connect(this, &MeterSession::ended, this, std::move(ended));
}

bool LogSession::start(std::string& error) {
    std::shared_ptr<MqttPublisher> mqtt;
    if (!options_.mqttUrl.empty()) {
        MqttSettings settings;
        const auto url = parseMqttUrl(options_.mqttUrl, error);
        if (!url) return false;
        settings.url = *url;
        if (const char* password = std::getenv("RD780_MQTT_PASSWORD")) settings.password = password;
        settings.caFile = options_.mqttCaFile;
        settings.discovery = options_.mqttDiscovery;
        mqtt = std::make_shared<MqttPublisher>(settings);
        if (!mqtt->start(error)) return false;
        mqtt_ = mqtt.get();
    }
    if (!options_.json.empty()) {
        auto json = std::make_shared<JsonLinesSink>(options_.json);
        if (!json->open(error)) return false;
        addOutput(json);
    }
    if (mqtt) addOutput(mqtt);
    return MeterSession::start(error);
}

void LogSession::hurry() {
    if (mqtt_) mqtt_->setDrainMs(300);
}

} // namespace rd780::log
