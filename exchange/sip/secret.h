#pragma once
// A password held in memory only as long as it is needed: its bytes are
// zeroed when it is destroyed or overwritten, so freed memory (and what a
// swap file or a memory dump might later show) does not keep it. Each copy
// wipes itself; a move hands the one buffer on.

#include <string.h>  // explicit_bzero

#include <cstddef>
#include <memory>
#include <string_view>
#include <utility>

namespace tellmaro::sip {

class Secret {
  public:
    Secret() = default;
    // Not explicit: `account.password = "..."` reads as for a string.
    Secret(std::string_view text) { assign(text); }
    Secret(const char* text) : Secret(std::string_view(text)) {}
    Secret(const Secret& other) : Secret(other.view()) {}
    Secret(Secret&& other) noexcept
        : bytes_(std::move(other.bytes_)), size_(std::exchange(other.size_, 0)) {}
    Secret& operator=(const Secret& other) {
        if (this != &other) {
            assign(other.view());
        }
        return *this;
    }
    Secret& operator=(Secret&& other) noexcept {
        if (this != &other) {
            wipe();
            bytes_ = std::move(other.bytes_);
            size_ = std::exchange(other.size_, 0);
        }
        return *this;
    }
    ~Secret() { wipe(); }

    const char* c_str() const { return bytes_ ? bytes_.get() : ""; }
    bool empty() const { return size_ == 0; }
    std::string_view view() const { return {c_str(), size_}; }

    friend bool operator==(const Secret& secret, std::string_view text) {
        return secret.view() == text;
    }

  private:
    void assign(std::string_view text) {
        auto fresh = std::make_unique<char[]>(text.size() + 1);
        text.copy(fresh.get(), text.size());
        wipe();
        bytes_ = std::move(fresh);
        size_ = text.size();
    }
    void wipe() noexcept {
        if (bytes_) {
            explicit_bzero(bytes_.get(), size_);
        }
        bytes_.reset();
        size_ = 0;
    }

    std::unique_ptr<char[]> bytes_;  // size_ bytes and a terminating NUL
    size_t size_ = 0;
};

}  // namespace tellmaro::sip
