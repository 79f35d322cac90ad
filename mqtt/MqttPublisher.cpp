#include "mqtt/MqttPublisher.h"

#include "record/ReadingValue.h"

#include <mosquitto.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string_view>

namespace rd780 {

namespace {

std::once_flag libraryReady;

bool portNumber(const std::string& s, int& out) {
    if (s.empty() || s.size() > 5 || s.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out = std::stoi(s);
    return out >= 1 && out <= 65535;
}

} // namespace

std::optional<MqttUrl> parseMqttUrl(const std::string& url, std::string& error) {
    MqttUrl u;
    std::string rest;
    if (url.rfind("mqtt://", 0) == 0) {
        rest = url.substr(7);
    } else if (url.rfind("mqtts://", 0) == 0) {
        u.tls = true;
        u.port = 8883;
        rest = url.substr(8);
    } else {
        error = "the MQTT URL must start with mqtt:// or mqtts://";
        return std::nullopt;
    }
    const std::size_t slash = rest.find('/');
    if (slash == std::string::npos || slash + 1 >= rest.size()) {
        error = "the MQTT URL needs a topic prefix: mqtt://HOST[:PORT]/PREFIX";
        return std::nullopt;
    }
    u.prefix = rest.substr(slash + 1);
    while (!u.prefix.empty() && u.prefix.back() == '/')
        u.prefix.pop_back();
    if (u.prefix.empty() || u.prefix.find_first_of("#+") != std::string::npos) {
        error = "the MQTT topic prefix '" + rest.substr(slash + 1) + "' is not a topic name";
        return std::nullopt;
    }
    std::string authority = rest.substr(0, slash);
    if (const std::size_t at = authority.rfind('@'); at != std::string::npos) {
        u.user = authority.substr(0, at);
        authority = authority.substr(at + 1);
        if (u.user.empty() || u.user.find(':') != std::string::npos) {
            error = "give the MQTT user as USER@ and the password in RD780_MQTT_PASSWORD";
            return std::nullopt;
        }
    }
    if (const std::size_t colon = authority.rfind(':');
        colon != std::string::npos && authority.find(']', colon) == std::string::npos) {
        if (!portNumber(authority.substr(colon + 1), u.port)) {
            error = "the MQTT port '" + authority.substr(colon + 1) + "' is not a port number";
            return std::nullopt;
        }
        authority = authority.substr(0, colon);
    }
    if (authority.size() > 2 && authority.front() == '[' && authority.back() == ']')
        authority = authority.substr(1, authority.size() - 2);
    if (authority.empty()) {
        error = "the MQTT URL names no host";
        return std::nullopt;
    }
    u.host = authority;
    return u;
}

MqttPublisher::MqttPublisher(MqttSettings settings) : settings_(std::move(settings)) {
    std::call_once(libraryReady, [] { mosquitto_lib_init(); });
}

MqttPublisher::~MqttPublisher() {
    stop();
}

void MqttPublisher::onConnect(mosquitto* mosq, void* self, int rc) {
    auto* p = static_cast<MqttPublisher*>(self);
    int mid = -1;
    if (rc == 0) {
        const std::string topic = p->settings_.url.prefix + "/status";
        if (mosquitto_publish(mosq, &mid, topic.c_str(), 6, "online", 1, true) != MOSQ_ERR_SUCCESS)
            mid = -1;
    }
    {
        std::lock_guard<std::mutex> lk(p->m_);
        // Its acknowledgement comes through this thread, so after this callback.
        if (mid >= 0) p->inflight_[mid] = false;
        if (p->connackRc_ < 0) p->connackRc_ = rc;
        p->connected_ = rc == 0;
    }
    p->cv_.notify_all();
}

void MqttPublisher::onDisconnect(mosquitto*, void* self, int) {
    auto* p = static_cast<MqttPublisher*>(self);
    {
        std::lock_guard<std::mutex> lk(p->m_);
        p->connected_ = false;
    }
    p->cv_.notify_all();
}

void MqttPublisher::onPublish(mosquitto*, void* self, int mid) {
    auto* p = static_cast<MqttPublisher*>(self);
    {
        std::lock_guard<std::mutex> lk(p->m_);
        const auto it = p->inflight_.find(mid);
        if (it == p->inflight_.end()) {
            // Acknowledged before the sender had noted the message id.
            p->earlyAcks_.insert(mid);
            return;
        }
        if (it->second) ++p->published_;
        p->inflight_.erase(it);
    }
    p->cv_.notify_all();
}

void MqttPublisher::onLog(mosquitto*, void* self, int level, const char* text) {
    // A failed handshake is told only here; its last part says why ("certificate verify
    // failed"), which the generic error code does not.
    const std::string_view t = text ? text : "";
    if (!(level & MOSQ_LOG_ERR) || t.rfind("OpenSSL Error", 0) != 0) return;
    auto* p = static_cast<MqttPublisher*>(self);
    {
        std::lock_guard<std::mutex> lk(p->m_);
        if (!p->tlsError_.empty()) return;
        const auto colon = t.rfind(':');
        p->tlsError_ = std::string(colon == std::string_view::npos ? t : t.substr(colon + 1));
    }
    p->cv_.notify_all();
}

bool MqttPublisher::start(std::string& error) {
    const MqttUrl& u = settings_.url;
    const std::string where = "MQTT broker " + u.host + ":" + std::to_string(u.port);
    mosq_ = mosquitto_new(nullptr, true, this);
    if (!mosq_) {
        error = "MQTT: cannot make a client";
        return false;
    }
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(mosq_, &MqttPublisher::onConnect);
    mosquitto_disconnect_callback_set(mosq_, &MqttPublisher::onDisconnect);
    mosquitto_publish_callback_set(mosq_, &MqttPublisher::onPublish);
    mosquitto_log_callback_set(mosq_, &MqttPublisher::onLog);
    // Back-off between attempts: 1 s, doubling up to 8 s.
    mosquitto_reconnect_delay_set(mosq_, 1, 8, true);
    if (!u.user.empty())
        mosquitto_username_pw_set(mosq_, u.user.c_str(),
                                  settings_.password ? settings_.password->c_str() : nullptr);
    const std::string status = u.prefix + "/status";
    mosquitto_will_set(mosq_, status.c_str(), 7, "offline", 1, true);
    if (u.tls) {
        const int rc = settings_.caFile.empty()
                           ? mosquitto_int_option(mosq_, MOSQ_OPT_TLS_USE_OS_CERTS, 1)
                           : mosquitto_tls_set(mosq_, settings_.caFile.c_str(), nullptr, nullptr,
                                               nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            error = "MQTT TLS" + (settings_.caFile.empty() ? "" : " with " + settings_.caFile) +
                    ": " + mosquitto_strerror(rc);
            return false;
        }
    }
    const int rc = mosquitto_connect(mosq_, u.host.c_str(), u.port, 30);
    if (rc == MOSQ_ERR_EAI || rc == MOSQ_ERR_INVAL || rc == MOSQ_ERR_TLS) {
        error = where + ": " + (rc == MOSQ_ERR_EAI ? "unknown host" : mosquitto_strerror(rc));
        std::lock_guard<std::mutex> lk(m_);
        if (!tlsError_.empty()) error += " (" + tlsError_ + ")";
        return false;
    }
    const bool reached = rc == MOSQ_ERR_SUCCESS;
    if (mosquitto_loop_start(mosq_) != MOSQ_ERR_SUCCESS) {
        error = "MQTT: cannot start the client's thread";
        return false;
    }
    loopRunning_ = true;
    sender_ = std::thread(&MqttPublisher::sendLoop, this);
    if (!reached) {
        std::fprintf(stderr, "rd780-log: %s: %s; rows wait until it can be reached\n",
                     where.c_str(), mosquitto_strerror(rc));
        return true;
    }
    std::unique_lock<std::mutex> lk(m_);
    cv_.wait_for(lk, std::chrono::milliseconds(settings_.connectWaitMs),
                 [this] { return connackRc_ >= 0 || !tlsError_.empty(); });
    // A certificate not trusted is no outage: trying again cannot mend it.
    if (connackRc_ < 0 && !tlsError_.empty()) {
        error = where + ": TLS: " + tlsError_;
        lk.unlock();
        stop();
        return false;
    }
    if (connackRc_ > 0) {
        error = where + " refused the connection: " + mosquitto_connack_string(connackRc_);
        lk.unlock();
        stop();
        return false;
    }
    return true;
}

void MqttPublisher::enqueue(Message m) {
    {
        std::lock_guard<std::mutex> lk(m_);
        if (queue_.size() >= QueueBound) {
            ++dropped_;
            return;
        }
        queue_.push_back(std::move(m));
    }
    cv_.notify_all();
}

void MqttPublisher::put(const CsvReading& row) {
    const std::string& prefix = settings_.url.prefix;
    if (settings_.discovery) {
        // The sensor is announced with the unit of the readings; a new unit, a new
        // announcement, before the first reading in it.
        const auto base = baseUnitOf(row.unit);
        const std::string unit = base ? base->name : std::string();
        if (!announcedUnit_ || *announcedUnit_ != unit) {
            announcedUnit_ = unit;
            std::string id;
            for (const char c : prefix)
                id += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
            std::string config = "{\"name\":" + jsonString(prefix + " reading") +
                                 ",\"unique_id\":" + jsonString("rd780_" + id) +
                                 ",\"state_topic\":" + jsonString(prefix + "/reading") +
                                 ",\"value_template\":\"{{ value_json.si_value }}\"" +
                                 ",\"json_attributes_topic\":" + jsonString(prefix + "/reading") +
                                 ",\"availability_topic\":" + jsonString(prefix + "/status") +
                                 ",\"payload_available\":\"online\"" +
                                 ",\"payload_not_available\":\"offline\"";
            if (!unit.empty()) config += ",\"unit_of_measurement\":" + jsonString(unit);
            config += ",\"state_class\":\"measurement\"}";
            enqueue({"homeassistant/sensor/rd780_" + id + "/reading/config", config, true, false});
        }
    }
    enqueue({prefix + "/reading", readingJson(row), false, true});
}

void MqttPublisher::sendLoop() {
    std::unique_lock<std::mutex> lk(m_);
    for (;;) {
        cv_.wait(lk, [this] {
            return stopping_ || (connected_ && !queue_.empty() && inflight_.size() < Window);
        });
        if (stopping_) return;
        // Only this thread takes from the front, so the copy stays the front meanwhile; the
        // lock is not held into the library, whose thread calls back into ours.
        const Message m = queue_.front();
        lk.unlock();
        int mid = 0;
        const int rc =
            mosquitto_publish(mosq_, &mid, m.topic.c_str(), static_cast<int>(m.payload.size()),
                              m.payload.data(), 1, m.retain);
        lk.lock();
        if (rc == MOSQ_ERR_SUCCESS) {
            // The library keeps it from here until the broker acknowledges it, across
            // reconnections.
            queue_.pop_front();
            track(mid, m.reading);
        } else {
            // Not connected after all: wait for the next connection.
            connected_ = false;
        }
    }
}

void MqttPublisher::track(int mid, bool reading) {
    if (earlyAcks_.erase(mid) > 0) {
        if (reading) ++published_;
        return;
    }
    inflight_[mid] = reading;
}

bool MqttPublisher::finish(std::string&) {
    if (!mosq_ || !loopRunning_) return true;
    {
        std::unique_lock<std::mutex> lk(m_);
        cv_.wait_for(lk, std::chrono::milliseconds(settings_.drainMs),
                     [this] { return queue_.empty() && inflight_.empty(); });
        stopping_ = true;
    }
    cv_.notify_all();
    if (sender_.joinable()) sender_.join();
    bool online = false;
    {
        std::lock_guard<std::mutex> lk(m_);
        online = connected_;
    }
    if (online) {
        int mid = 0;
        const std::string status = settings_.url.prefix + "/status";
        if (mosquitto_publish(mosq_, &mid, status.c_str(), 7, "offline", 1, true) ==
            MOSQ_ERR_SUCCESS) {
            std::unique_lock<std::mutex> lk(m_);
            track(mid, false);
            cv_.wait_for(lk, std::chrono::milliseconds(std::min(settings_.drainMs, 2000)),
                         [&] { return !inflight_.count(mid); });
        }
    }
    stop();
    return true;
}

void MqttPublisher::stop() {
    {
        std::lock_guard<std::mutex> lk(m_);
        stopping_ = true;
    }
    cv_.notify_all();
    if (sender_.joinable()) sender_.join();
    if (mosq_) {
        mosquitto_disconnect(mosq_);
        if (loopRunning_) mosquitto_loop_stop(mosq_, false);
        loopRunning_ = false;
        mosquitto_destroy(mosq_);
        mosq_ = nullptr;
    }
}

std::size_t MqttPublisher::waiting() const {
    std::lock_guard<std::mutex> lk(m_);
    std::size_t n = queue_.size();
    for (const auto& [mid, reading] : inflight_)
        n += reading ? 1 : 0;
    return n;
}

bool MqttPublisher::connected() const {
    std::lock_guard<std::mutex> lk(m_);
    return connected_;
}

std::string MqttPublisher::summary() const {
    std::string s =
        ", " + std::to_string(published_) + " published, " + std::to_string(dropped_) + " dropped";
    if (const std::size_t w = waiting(); w > 0) s += ", " + std::to_string(w) + " unsent";
    return s;
}

} // namespace rd780
