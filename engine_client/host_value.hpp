#pragma once
// The program's side of the plug-in boundary: the array type behind the host
// array interface of engine/host_array.h, and the call that hands arrays to a
// plug-in entry and takes its outputs back.
//
// Rules shared by everything in this header:
//  - A HostArray is a real or complex array of class double or uint8 with at
//    least two dimensions, stored column by column; trailing singleton
//    dimensions beyond the second are dropped (4 x 5 x 1 is 4 x 5).
//  - The program never creates complex arrays itself; they exist so that the
//    plug-in's checks can be exercised. The imaginary part is kept apart from
//    the real data and is zero-filled.
//  - An input may borrow the elements of an ocu::Array instead of copying them;
//    the borrowed array must outlive every use of the HostArray.
//  - Arrays the plug-in creates during a call belong to that call: the ones it
//    placed in its output slots are handed to the caller, all others are
//    released when the call ends, whether it succeeded or raised an error.
//  - An error raised by the plug-in arrives as ocu::Error with the plug-in's
//    text, unchanged.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/host_array.h"
#include "toolkit/array.hpp"

struct HostArray {
public:
    // A zero-filled array of the given class and dimensions (at least one entry).
    HostArray(HostClass cls, std::vector<std::size_t> dims, bool complex = false);

    // A 1 x 1 real double.
    static HostArray scalar(double v);
    // Copies of program arrays (rows x cols, or rows x cols x planes).
    static HostArray copy_of(const ocu::ArrayD& a);
    static HostArray copy_of(const ocu::ArrayU8& a);
    // Arrays that lend the program array's elements for the length of a call.
    static HostArray borrow(const ocu::ArrayD& a);
    static HostArray borrow(const ocu::ArrayU8& a);

    HostClass cls() const { return cls_; }
    bool is_double() const { return cls_ == HOST_CLASS_DOUBLE; }
    bool is_uint8() const { return cls_ == HOST_CLASS_UINT8; }
    bool is_complex() const { return complex_; }
    const std::vector<std::size_t>& dims() const { return dims_; }
    std::size_t ndims() const { return dims_.size(); }
    std::size_t rows() const { return dims_[0]; }
    std::size_t cols() const { return cols_; }  // product of dimensions 2..n
    std::size_t numel() const { return numel_; }

    // Real elements; null when empty. The mutable form copies borrowed data first.
    const void* data() const;
    void* mutable_data();
    const double* doubles() const;  // requires class double
    double* mutable_doubles();
    const std::uint8_t* bytes() const;  // requires class uint8
    std::uint8_t* mutable_bytes();
    // Imaginary part of a complex array (numel values of the array's class,
    // stored as doubles for both classes); empty for a real array.
    std::vector<double>& imag() { return imag_; }

    // The first real element as a double; NaN when the array is empty.
    double first() const;

    // Conversions back to program arrays. They require the class and a real,
    // 2-D or 3-D array, and throw ocu::Error otherwise.
    ocu::ArrayD to_array_d() const;
    ocu::ArrayU8 to_array_u8() const;
    // The same, handing over the elements instead of copying them.
    ocu::ArrayU8 take_array_u8() &&;

    // Number of HostArray objects alive in the process (for leak checks).
    static std::size_t live_count();

private:
    // Counts constructions and destructions of the enclosing array.
    struct LiveCounter {
        LiveCounter();
        LiveCounter(const LiveCounter&);
        LiveCounter& operator=(const LiveCounter&) = default;
        ~LiveCounter();
    };

    struct NoStorage {};
    HostArray(NoStorage, HostClass cls, std::vector<std::size_t> dims);
    void set_dims(std::vector<std::size_t> dims);
    void own_borrowed();

    HostClass cls_;
    bool complex_ = false;
    std::vector<std::size_t> dims_;
    std::size_t cols_ = 0;
    std::size_t numel_ = 0;
    ocu::ArrayD::Storage d_;  // the program arrays' storage, so that a result moves over
    ocu::ArrayU8::Storage u8_;
    std::vector<double> imag_;
    const void* borrowed_ = nullptr;
    LiveCounter counter_;
};

namespace ocu::kal {

using HostValue = ::HostArray;

// The plug-in's entry, as resolved from the library.
using MexEntry = void (*)(int nlhs, HostArray* plhs[], int nrhs, const HostArray* prhs[]);

// The error hostRaiseError throws to abandon a plug-in call. It is not an
// std::exception, so that no handler inside a plug-in can take it for one of
// its own; call_entry turns it into ocu::Error.
class HostRaised {
public:
    explicit HostRaised(std::string text) : text_(std::move(text)) {}
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

// Calls `entry` with the inputs and nlhs = nout (which must be 0 or more) and
// returns the outputs it placed in its slots: slots 1..max(nout, 1) in order,
// up to the first slot left empty. An error raised by the plug-in is thrown as
// ocu::Error carrying its text.
std::vector<HostValue> call_entry(MexEntry entry, std::span<const HostValue* const> inputs,
                                  int nout);
std::vector<HostValue> call_entry(MexEntry entry, std::span<const HostValue> inputs, int nout);

}  // namespace ocu::kal
