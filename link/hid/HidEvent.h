#pragma once
// Events bound as an (object, method) pair, called only when bound. Two events are the
// same binding when both the object and the method are the same, which the controller's
// setters use to decide whether a handler really changed.
#include <cstring>
#include <functional>
#include <string>
#include <typeinfo>
#include <utility>

namespace rd780 {

template <class R, class... A> class HidEventT {
public:
    HidEventT() = default;

    template <class T> HidEventT(T* object, R (T::*method)(A...)) : object_(object) {
        key_.assign(typeid(T).name());
        key_.push_back('#');
        char raw[sizeof method];
        std::memcpy(raw, &method, sizeof method);
        key_.append(raw, sizeof raw);
        fn_ = [object, method](A... a) -> R { return (object->*method)(std::forward<A>(a)...); };
    }

    // A binding that is not a method: `tag` and `name` identify it for comparisons.
    HidEventT(const void* tag, std::string name, std::function<R(A...)> fn)
        : object_(tag), key_(std::move(name)), fn_(std::move(fn)) {}

    explicit operator bool() const { return static_cast<bool>(fn_); }
    R operator()(A... a) const { return fn_(std::forward<A>(a)...); }
    bool operator==(const HidEventT& o) const {
        if (!fn_ || !o.fn_) return !fn_ && !o.fn_;
        return object_ == o.object_ && key_ == o.key_;
    }
    const void* object() const { return object_; }

private:
    const void* object_ = nullptr;
    std::string key_;
    std::function<R(A...)> fn_;
};

} // namespace rd780
