// The trigger table of a dispatcher (see triggers.h).
#include "transport/triggers.h"

#include <algorithm>
#include <cassert>
#include <cctype>
#include <cstdint>

namespace telvane::transport {

uint8_t TriggerTable::fold(uint8_t c, bool ignoreCase) {
    return ignoreCase ? static_cast<uint8_t>(std::toupper(c)) : c;
}

std::shared_ptr<Trigger> TriggerTable::add(TriggerKind kind) {
    if (count(kind) >= maxPerKind_) return nullptr;
    auto t = std::make_shared<Trigger>();
    t->Handle = nextHandle_++;
    t->Kind = kind;
    triggers_.push_back(t);
    return t;
}

std::shared_ptr<Trigger> TriggerTable::addData(std::string_view data, bool ignoreCase) {
    assert(!data.empty());
    auto t = add(TriggerKind::Data);
    if (!t) return nullptr;
    t->IgnoreCase = ignoreCase;
    for (char c : data) t->Data += static_cast<char>(fold(static_cast<uint8_t>(c), ignoreCase));
    t->Failure.assign(t->Data.size(), 0);
    for (size_t i = 1, k = 0; i < t->Data.size(); ++i) {
        while (k > 0 && t->Data[i] != t->Data[k]) k = t->Failure[k - 1];
        if (t->Data[i] == t->Data[k]) ++k;
        t->Failure[i] = k;
    }
    return t;
}

std::shared_ptr<Trigger> TriggerTable::find(int handle) const {
    for (const auto& t : triggers_)
        if (t->Handle == handle) return t;
    return nullptr;
}

bool TriggerTable::remove(int handle) {
    auto it = std::find_if(triggers_.begin(), triggers_.end(), [&](const auto& t) { return t->Handle == handle; });
    if (it == triggers_.end()) return false;
    (*it)->Removed = true;
    triggers_.erase(it);
    return true;
}

size_t TriggerTable::count(TriggerKind kind) const {
    return static_cast<size_t>(
        std::count_if(triggers_.begin(), triggers_.end(), [kind](const auto& t) { return t->Kind == kind; }));
}

size_t TriggerTable::smallestAvailCount() const {
    size_t need = SIZE_MAX;
    for (const auto& t : triggers_)
        if (t->Kind == TriggerKind::Avail) need = std::min(need, t->Count);
    return need;
}

void TriggerTable::scan(const uint8_t* bytes, size_t len, std::vector<int>& matches) {
    for (size_t i = 0; i < len; ++i) {
        for (const auto& t : triggers_) {
            if (t->Kind != TriggerKind::Data) continue;
            const uint8_t c = fold(bytes[i], t->IgnoreCase);
            size_t m = t->Matched;
            assert(m < t->Data.size());
            while (m > 0 && static_cast<uint8_t>(t->Data[m]) != c) m = t->Failure[m - 1];
            if (static_cast<uint8_t>(t->Data[m]) == c) ++m;
            if (m == t->Data.size()) {
                matches.push_back(t->Handle);
                m = t->Failure[m - 1];
            }
            t->Matched = m;
        }
    }
}

}  // namespace telvane::transport
