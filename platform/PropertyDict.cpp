#include "platform/PropertyDict.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace plat {

bool PropertyDict::contains(std::string_view key) const {
    return entries_.find(key) != entries_.end();
}

const PropertyValue* PropertyDict::find(std::string_view key) const {
    auto it = entries_.find(key);
    return it == entries_.end() ? nullptr : &it->second;
}

void PropertyDict::set(std::string key, PropertyValue value) {
    entries_.insert_or_assign(std::move(key), std::move(value));
}

void PropertyDict::erase(std::string_view key) {
    auto it = entries_.find(key);
    if (it != entries_.end()) entries_.erase(it);
}

std::optional<double> PropertyDict::number(std::string_view key) const {
    const PropertyValue* v = find(key);
    return v ? v->asNumber() : std::nullopt;
}

std::optional<std::int64_t> PropertyDict::integer(std::string_view key) const {
    const PropertyValue* v = find(key);
    if (!v) return std::nullopt;
    if (auto i = v->get<std::int64_t>()) return *i;
    if (auto d = v->get<double>()) {
        if (std::isfinite(*d) && std::fabs(*d) < 9.0e18) return std::int64_t(std::llround(*d));
    }
    if (auto b = v->get<bool>()) return *b ? 1 : 0;
    if (auto s = v->get<std::string>()) {
        char* end = nullptr;
        long long parsed = std::strtoll(s->c_str(), &end, 10);
        if (end != s->c_str() && *end == '\0') return parsed;
    }
    return std::nullopt;
}

std::optional<bool> PropertyDict::boolean(std::string_view key) const {
    const PropertyValue* v = find(key);
    if (!v) return std::nullopt;
    if (auto b = v->get<bool>()) return *b;
    if (auto n = v->asNumber()) return *n != 0.0;
    return std::nullopt;
}

std::optional<std::string> PropertyDict::string(std::string_view key) const {
    const PropertyValue* v = find(key);
    if (!v) return std::nullopt;
    if (auto s = v->get<std::string>()) return *s;
    return std::nullopt;
}

const PropertyDict* PropertyDict::dict(std::string_view key) const {
    const PropertyValue* v = find(key);
    return v ? v->get<PropertyDict>() : nullptr;
}

PropertyDict& PropertyDict::dictForUpdate(const std::string& key) {
    auto it = entries_.find(key);
    if (it == entries_.end() || !it->second.is<PropertyDict>()) {
        it = entries_.insert_or_assign(key, PropertyValue(PropertyDict{})).first;
    }
    return *it->second.get<PropertyDict>();
}

bool operator==(const PropertyDict& a, const PropertyDict& b) { return a.entries_ == b.entries_; }

std::optional<double> PropertyValue::asNumber() const {
    if (auto i = get<std::int64_t>()) return double(*i);
    if (auto d = get<double>()) return *d;
    if (auto b = get<bool>()) return *b ? 1.0 : 0.0;
    return std::nullopt;
}

std::optional<std::string> PropertyValue::asText() const {
    if (auto s = get<std::string>()) return *s;
    if (auto i = get<std::int64_t>()) return std::to_string(*i);
    if (auto b = get<bool>()) return std::string(*b ? "1" : "0");
    if (auto d = get<double>()) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.10g", *d);
        return std::string(buffer);
    }
    return std::nullopt;
}

}  // namespace plat
