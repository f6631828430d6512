// The host array interface over the program's own arrays, and the call that
// hands them to a plug-in entry.
#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <utility>

#include "engine_client/host_value.hpp"
#include "toolkit/error.hpp"

// ---------------------------------------------------------------------------
// HostArray

namespace {
std::atomic<std::size_t> g_live_arrays{0};
}  // namespace

HostArray::LiveCounter::LiveCounter() { ++g_live_arrays; }
HostArray::LiveCounter::LiveCounter(const LiveCounter&) { ++g_live_arrays; }
HostArray::LiveCounter::~LiveCounter() { --g_live_arrays; }
std::size_t HostArray::live_count() { return g_live_arrays.load(); }

HostArray::HostArray(NoStorage, HostClass cls, std::vector<std::size_t> dims) : cls_(cls) {
    if (cls != HOST_CLASS_DOUBLE && cls != HOST_CLASS_UINT8) {
        throw ocu::Error("Unknown array class.");
    }
    set_dims(std::move(dims));
}

HostArray::HostArray(HostClass cls, std::vector<std::size_t> dims, bool complex)
    : HostArray(NoStorage{}, cls, std::move(dims)) {
    complex_ = complex;
    if (is_double()) {
        d_.assign(numel_, 0.0);
    } else {
        u8_.assign(numel_, 0);
    }
    if (complex_) imag_.assign(numel_, 0.0);
}

void HostArray::set_dims(std::vector<std::size_t> dims) {
    while (dims.size() < 2) dims.push_back(1);
    while (dims.size() > 2 && dims.back() == 1) dims.pop_back();
    // Product of the extents from `first` on; 0 if one of them is 0; refused
    // beyond the largest array the program holds.
    const auto product = [&dims](std::size_t first) {
        for (std::size_t i = first; i < dims.size(); ++i) {
            if (dims[i] == 0) return std::size_t{0};
        }
        std::size_t n = 1;
        for (std::size_t i = first; i < dims.size(); ++i) {
            if (dims[i] > ocu::kMaxElements / n) {
                throw ocu::Error("An array of more than " + std::to_string(ocu::kMaxElements) +
                                 " elements is too large.");
            }
            n *= dims[i];
        }
        return n;
    };
    cols_ = product(1);
    numel_ = product(0);
    dims_ = std::move(dims);
}

HostArray HostArray::scalar(double v) {
    HostArray a(HOST_CLASS_DOUBLE, {1, 1});
    a.d_[0] = v;
    return a;
}

namespace {
template <class T>
std::vector<std::size_t> dims_of(const ocu::Array<T>& a) {
    return {a.rows(), a.cols(), a.planes()};
}
}  // namespace

HostArray HostArray::copy_of(const ocu::ArrayD& a) {
    HostArray h(NoStorage{}, HOST_CLASS_DOUBLE, dims_of(a));
    h.d_.assign(a.span().begin(), a.span().end());
    return h;
}

HostArray HostArray::copy_of(const ocu::ArrayU8& a) {
    HostArray h(NoStorage{}, HOST_CLASS_UINT8, dims_of(a));
    h.u8_.assign(a.span().begin(), a.span().end());
    return h;
}

HostArray HostArray::borrow(const ocu::ArrayD& a) {
    HostArray h(NoStorage{}, HOST_CLASS_DOUBLE, dims_of(a));
    h.borrowed_ = a.data();
    return h;
}

HostArray HostArray::borrow(const ocu::ArrayU8& a) {
    HostArray h(NoStorage{}, HOST_CLASS_UINT8, dims_of(a));
    h.borrowed_ = a.data();
    return h;
}

const void* HostArray::data() const {
    if (numel_ == 0) return nullptr;
    if (borrowed_ != nullptr) return borrowed_;
    return is_double() ? static_cast<const void*>(d_.data()) : static_cast<const void*>(u8_.data());
}

void HostArray::own_borrowed() {
    if (borrowed_ == nullptr) return;
    if (is_double()) {
        const auto* p = static_cast<const double*>(borrowed_);
        d_.assign(p, p + numel_);
    } else {
        const auto* p = static_cast<const std::uint8_t*>(borrowed_);
        u8_.assign(p, p + numel_);
    }
    borrowed_ = nullptr;
}

void* HostArray::mutable_data() {
    own_borrowed();
    return const_cast<void*>(data());
}

const double* HostArray::doubles() const {
    if (!is_double()) throw ocu::Error("The array is not of class double.");
    return static_cast<const double*>(data());
}
double* HostArray::mutable_doubles() {
    if (!is_double()) throw ocu::Error("The array is not of class double.");
    return static_cast<double*>(mutable_data());
}
const std::uint8_t* HostArray::bytes() const {
    if (!is_uint8()) throw ocu::Error("The array is not of class uint8.");
    return static_cast<const std::uint8_t*>(data());
}
std::uint8_t* HostArray::mutable_bytes() {
    if (!is_uint8()) throw ocu::Error("The array is not of class uint8.");
    return static_cast<std::uint8_t*>(mutable_data());
}

double HostArray::first() const {
    if (numel_ == 0) return std::numeric_limits<double>::quiet_NaN();
    return is_double() ? doubles()[0] : static_cast<double>(bytes()[0]);
}

namespace {
template <class T>
ocu::Array<T> to_program_array(const HostArray& h, const T* p, const char* what) {
    if (h.is_complex() || h.ndims() > 3) {
        throw ocu::Error(std::string("Expected a real ") + what +
                         " array of at most three dimensions from the engine.");
    }
    const std::size_t planes = h.ndims() == 3 ? h.dims()[2] : 1;
    typename ocu::Array<T>::Storage v;
    if (p != nullptr) v.assign(p, p + h.numel());
    return ocu::Array<T>(h.rows(), h.dims()[1], planes, std::move(v));
}
}  // namespace

ocu::ArrayD HostArray::to_array_d() const {
    if (!is_double()) throw ocu::Error("Expected a double array from the engine, got uint8.");
    return to_program_array(*this, doubles(), "double");
}

ocu::ArrayU8 HostArray::to_array_u8() const {
    if (!is_uint8()) throw ocu::Error("Expected a uint8 array from the engine, got double.");
    return to_program_array(*this, bytes(), "uint8");
}

ocu::ArrayU8 HostArray::take_array_u8() && {
    if (!is_uint8() || complex_ || ndims() > 3 || borrowed_ != nullptr) return to_array_u8();
    const std::size_t planes = ndims() == 3 ? dims_[2] : 1;
    return ocu::ArrayU8(dims_[0], dims_[1], planes, std::move(u8_));
}

// ---------------------------------------------------------------------------
// The arrays of the running call

namespace {

struct CallArena {
    std::vector<std::unique_ptr<HostArray>> created;
};

thread_local CallArena* t_current = nullptr;

// Arrays created while no call is running (a host misuse) live until exit.
CallArena& orphan_arena() {
    static CallArena arena;
    return arena;
}

CallArena& current_arena() { return t_current != nullptr ? *t_current : orphan_arena(); }

// Makes `arena` the current one for its lifetime; releases what is left in it.
class ArenaScope {
public:
    ArenaScope() : outer_(t_current) { t_current = &arena_; }
    ~ArenaScope() { t_current = outer_; }
    ArenaScope(const ArenaScope&) = delete;
    ArenaScope& operator=(const ArenaScope&) = delete;

    // The arrays in the output slots, in slot order up to the first empty one.
    std::vector<HostArray> take_outputs(const std::vector<HostArray*>& slots,
                                        std::span<const HostArray* const> inputs) {
        std::vector<HostArray> out;
        std::vector<const HostArray*> taken;  // slot pointers already handed out
        for (HostArray* p : slots) {
            if (p == nullptr) break;
            const auto again = std::find(taken.begin(), taken.end(), p);
            if (again != taken.end()) {
                out.push_back(out[static_cast<std::size_t>(again - taken.begin())]);
            } else if (auto it = std::find_if(arena_.created.begin(), arena_.created.end(),
                                              [p](const auto& u) { return u.get() == p; });
                       it != arena_.created.end()) {
                out.push_back(std::move(**it));
            } else if (std::find(inputs.begin(), inputs.end(), p) != inputs.end()) {
                HostArray copy = *p;
                copy.mutable_data();  // own the elements
                out.push_back(std::move(copy));
            } else {
                throw ocu::Error("The plug-in returned an array it did not create.");
            }
            taken.push_back(p);
        }
        return out;
    }

private:
    CallArena arena_;
    CallArena* outer_;
};

[[noreturn]] void raise(std::string text) { throw ocu::kal::HostRaised(std::move(text)); }

}  // namespace

namespace ocu::kal {

std::vector<HostValue> call_entry(MexEntry entry, std::span<const HostValue* const> inputs,
                                  int nout) {
    if (entry == nullptr) throw Error("No plug-in entry to call.");
    if (nout < 0) throw Error("The number of requested outputs cannot be negative.");
    if (inputs.size() > static_cast<std::size_t>(INT_MAX)) throw Error("Too many inputs.");
    std::vector<const HostArray*> prhs(inputs.begin(), inputs.end());
    std::vector<HostArray*> plhs(static_cast<std::size_t>(std::max(nout, 1)), nullptr);

    ArenaScope scope;
    try {
        entry(nout, plhs.data(), static_cast<int>(prhs.size()), prhs.data());
    } catch (const HostRaised& e) {
        throw Error(e.text());
    }
    return scope.take_outputs(plhs, inputs);
}

std::vector<HostValue> call_entry(MexEntry entry, std::span<const HostValue> inputs, int nout) {
    std::vector<const HostValue*> ptrs;
    ptrs.reserve(inputs.size());
    for (const HostValue& a : inputs) ptrs.push_back(&a);
    return call_entry(entry, std::span<const HostValue* const>(ptrs), nout);
}

}  // namespace ocu::kal

// ---------------------------------------------------------------------------
// The C interface the plug-in calls

extern "C" {

size_t hostArrayRows(const HostArray* a) { return a->rows(); }
size_t hostArrayCols(const HostArray* a) { return a->cols(); }
int hostArrayIsDouble(const HostArray* a) { return a->is_double() ? 1 : 0; }
int hostArrayIsUint8(const HostArray* a) { return a->is_uint8() ? 1 : 0; }
int hostArrayIsComplex(const HostArray* a) { return a->is_complex() ? 1 : 0; }
size_t hostArrayNumDims(const HostArray* a) { return a->ndims(); }
const size_t* hostArrayDims(const HostArray* a) { return a->dims().data(); }
size_t hostArrayNumel(const HostArray* a) { return a->numel(); }
double hostArrayScalar(const HostArray* a) { return a->first(); }
void* hostArrayData(const HostArray* a) {
    // The plug-in writes through this pointer only into arrays it created,
    // which own their elements.
    return const_cast<void*>(a->data());
}

HostArray* hostArrayCreate(size_t rows, size_t cols, HostClass cls) {
    try {
        auto a = std::make_unique<HostArray>(cls, std::vector<std::size_t>{rows, cols});
        HostArray* p = a.get();
        current_arena().created.push_back(std::move(a));
        return p;
    } catch (const std::bad_alloc&) {
        raise("Out of memory");
    } catch (const ocu::Error& e) {
        raise(e.what());
    }
}

void hostRaiseError(const char* text) { raise(text != nullptr ? text : ""); }

}  // extern "C"
