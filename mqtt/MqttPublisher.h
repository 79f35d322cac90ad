#pragma once
// Publishes each recorded row on a message bus (MQTT, through libmosquitto): one QoS 1
// message per row on PREFIX/reading, and the logger's presence, retained, on PREFIX/status.
//
// Publishing never holds up the caller: put() only appends to a bounded queue; a thread of
// our own hands the queue to the client library in order, at most Window messages awaiting
// the broker's acknowledgement at a time, and only while connected. While the broker is
// away the queue keeps what waits (QueueBound messages; rows past that are dropped and
// counted), the library's loop thread reconnects with back-off, and the queue resumes in
// order once the broker is back.
#include "record/RowOutput.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>

struct mosquitto;

namespace rd780 {

// mqtt://[USER@]HOST[:PORT]/PREFIX or mqtts://… (TLS).
struct MqttUrl {
    bool tls = false;
    std::string user; // empty: no login
    std::string host;
    int port = 1883;
    std::string prefix; // topic prefix, without the trailing slash
};
// Nothing, with the reason in error, for a URL of another form.
std::optional<MqttUrl> parseMqttUrl(const std::string& url, std::string& error);

struct MqttSettings {
    MqttUrl url;
    std::optional<std::string> password; // RD780_MQTT_PASSWORD
    std::string caFile;                  // mqtts: a private CA; empty: the system's store
    bool discovery = false;              // announce a sensor for home automation
    int connectWaitMs = 5000;            // for the broker's answer at start
    int drainMs = 5000;                  // at finish, for the queue to empty
};

class MqttPublisher : public RowOutput {
public:
    // About 30 MB of waiting rows, or four days of a meter at six readings a second.
    static constexpr std::size_t QueueBound = 100000;
    static constexpr std::size_t Window = 20;

    explicit MqttPublisher(MqttSettings settings);
    ~MqttPublisher() override;

    // Connects and waits for the broker's answer. False with the reason when the host is
    // unknown, TLS cannot be set up, the broker's certificate is not trusted or the broker
    // refuses the login. A broker that cannot be reached now is not an error: the rows wait
    // and the connection is tried again.
    bool start(std::string& error);

    void put(const CsvReading& row) override;
    bool flush(std::string&) override { return true; }
    // Waits (up to drainMs) for the queue to empty, says offline and disconnects.
    bool finish(std::string& error) override;
    std::string summary() const override;

    std::uint64_t published() const { return published_; }
    std::uint64_t dropped() const { return dropped_; }
    std::size_t waiting() const;
    // How long finish waits for the queue to empty (and for its goodbye).
    void setDrainMs(int ms) { settings_.drainMs = ms; }
    bool connected() const;

private:
    struct Message {
        std::string topic, payload;
        bool retain = false;
        bool reading = true;
    };
    static void onConnect(mosquitto*, void* self, int rc);
    static void onDisconnect(mosquitto*, void* self, int rc);
    static void onPublish(mosquitto*, void* self, int mid);
    static void onLog(mosquitto*, void* self, int level, const char* text);
    void enqueue(Message m);
    void track(int mid, bool reading); // with m_ held
    void sendLoop();
    void stop();

    MqttSettings settings_;
    mosquitto* mosq_ = nullptr;
    bool loopRunning_ = false;
    std::thread sender_;

    mutable std::mutex m_;
    std::condition_variable cv_;
    std::deque<Message> queue_;
    std::unordered_map<int, bool> inflight_; // message id → a reading
    std::unordered_set<int> earlyAcks_;
    bool connected_ = false;
    int connackRc_ = -1;   // the broker's first answer
    std::string tlsError_; // the first TLS failure the library reported
    bool stopping_ = false;
    std::optional<std::string> announcedUnit_; // put() only
    std::atomic<std::uint64_t> published_{0}, dropped_{0};
};

} // namespace rd780
