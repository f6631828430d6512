#pragma once
// Shared<T>: a value of T held once and shared by every copy.
//
// The window's state record is copied for every callback (the framework hands
// each one a copy); images held as Shared<AnyImage> make such a copy cost a
// reference count instead of the pixels. The value inside is never changed in
// place: assigning a new value replaces it for this copy only, and edit()
// gives a private copy first when another copy shares it (copy on write).
//
//   Shared<AnyImage> im = imread(path);   // held once
//   Shared<AnyImage> other = im;           // the same pixels
//   const AnyImage& a = im;                // read it (also *im, im->...)
//   im = AnyImage(...);                    // this copy now holds another value
//
// A Shared may hold nothing (default-constructed, or reset()): has_value()
// is false and reading gives T's default value, so that an absent image reads
// as an empty one. Copies may be read from several threads at once; one
// Shared object itself is used by one thread at a time, as any value.
#include <memory>
#include <type_traits>
#include <utility>

namespace ocu {

template <class T>
class Shared {
public:
    Shared() = default;
    Shared(T value) : p_(std::make_shared<const T>(std::move(value))) {}  // NOLINT: implicit by design
    // Shares a value already held elsewhere.
    explicit Shared(std::shared_ptr<const T> p) : p_(std::move(p)) {}

    Shared& operator=(T value) {
        p_ = std::make_shared<const T>(std::move(value));
        return *this;
    }

    bool has_value() const { return p_ != nullptr; }
    explicit operator bool() const { return has_value(); }
    void reset() { p_.reset(); }

    const T& get() const { return p_ ? *p_ : empty(); }
    const T& operator*() const { return get(); }
    const T* operator->() const { return &get(); }
    operator const T&() const { return get(); }  // NOLINT: reads as the value it holds

    // The value held, shared (for a reader that outlives this copy).
    const std::shared_ptr<const T>& pointer() const { return p_; }

    // The value, moved out when no other copy shares it, else copied; this
    // copy holds nothing afterwards.
    T take() {
        std::shared_ptr<const T> p = std::exchange(p_, nullptr);
        if (!p) return T{};
        if (p.use_count() == 1) return std::move(const_cast<T&>(*p));
        return *p;
    }

    friend bool operator==(const Shared& a, const Shared& b) { return a.p_ == b.p_ || a.get() == b.get(); }
    friend bool operator==(const Shared& a, const T& b) { return a.get() == b; }

private:
    static const T& empty() {
        static const T e{};
        return e;
    }
    std::shared_ptr<const T> p_;
};

}  // namespace ocu
