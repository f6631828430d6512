#pragma once
// How a long computation says how far it is, and how its caller stops it.
//
//   std::atomic<bool> stop{false};
//   Progress progress([](double f) { show(f); }, &stop);
//   ArrayD imt = fixindep::run(im, params, &progress);   // may throw Stopped
//
// A computation that takes a `const Progress*` (null: nobody listens) calls
// report(progress, fraction) at points where stopping loses nothing but the
// work done so far: between bands, levels or planes. report() passes the
// fraction (0..1, rising) on and throws Stopped once the caller has set the
// stop flag. Reporting never changes what a computation computes; it runs on
// the computation's own thread (the receiver hands the number on, e.g.
// through an atomic, to whoever shows it).
#include <atomic>
#include <exception>
#include <functional>
#include <utility>

namespace ocu {

// The computation ended early because its caller asked it to stop. Not an
// ocu::Error: nothing went wrong, and there is nothing to tell the user.
class Stopped : public std::exception {
public:
    const char* what() const noexcept override { return "The computation was stopped."; }
};

class Progress {
public:
    Progress() = default;
    Progress(std::function<void(double)> receiver, const std::atomic<bool>* stop)
        : receiver_(std::move(receiver)), stop_(stop) {}

    // Reports `fraction` of the whole done; throws Stopped when asked to stop.
    void at(double fraction) const {
        if (stop_ && stop_->load(std::memory_order_relaxed)) throw Stopped();
        if (receiver_) receiver_(from_ + (to_ - from_) * fraction);
    }
    bool stop_requested() const { return stop_ && stop_->load(std::memory_order_relaxed); }

    // The same receiver without the stop: for the reports of work past the
    // point where stopping would leave things half done.
    Progress unstoppable() const {
        Progress p = *this;
        p.stop_ = nullptr;
        return p;
    }

    // The same receiver and flag for a part of the work: fractions 0..1 of the
    // part are reported as from..to of the whole (a step of a chain).
    Progress part(double from, double to) const {
        Progress p = *this;
        p.from_ = from_ + (to_ - from_) * from;
        p.to_ = from_ + (to_ - from_) * to;
        return p;
    }

private:
    std::function<void(double)> receiver_;
    const std::atomic<bool>* stop_ = nullptr;
    double from_ = 0.0, to_ = 1.0;
};

// report(p, f): p->at(f) when someone listens.
inline void report(const Progress* p, double fraction) {
    if (p) p->at(fraction);
}
// The part from..to of `p` (or nothing when nobody listens); keep the result
// alive while it is used: `Progress sub; const Progress* q = part_of(p, a, b, sub);`
inline const Progress* part_of(const Progress* p, double from, double to, Progress& storage) {
    if (!p) return nullptr;
    storage = p->part(from, to);
    return &storage;
}

}  // namespace ocu
