// What the binding files of the module share: the Spectrum object as Python
// holds it, its counts as a NumPy array, and where the shipped data are.
// The binding files only translate between Python and the C++ functions of
// tarvik/inmemory.h; they hold no work of their own.
#pragma once

#include "inmemory.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <filesystem>
#include <span>

namespace tarvikpy {

namespace py = pybind11;

// A float64 array in C order: what every count array is held as.
using CountArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

struct Spectrum {
    CountArray counts;  // one dimension, 1 to 65536 channels
    tarvikcli::SpectrumInfo info;

    std::span<const double> span() const { return {counts.data(), static_cast<std::size_t>(counts.size())}; }
};

// Any array-like of numbers as a count array: a float64 array in C order is
// taken as it is (no copy); anything else is converted once.  Refuses
// arrays that are not one-dimensional or hold no or too many channels.
CountArray countArray(py::handle values);

// The vector's numbers as an array that owns them (no copy).
CountArray adopt(std::vector<double>&& values);

// A Spectrum, or counts made into a measured Spectrum.
Spectrum spectrumOrCounts(py::handle object);

// The Python object of a record.
Spectrum fromRecord(tarvikcli::SpectrumRecord&& record);

// The folder of the shipped data: <prefix>/share/tarvik beside the installed
// module (<prefix>/lib/python3/dist-packages/tarvik), else the sources' data/.
const std::filesystem::path& dataFolder();

// Arguments that take several kinds of Python object: the object as it
// came, and a name for the signatures help() shows, as a script writes it.
struct SpectrumOrCountsArg {
    py::object object;
};
struct CountsArg {
    py::object object;
};
struct PathOrNameArg {
    py::object object;
};
struct SourcesArg {
    py::object object;
};

void bindErrors(py::module_& m);
void bindSpectrum(py::module_& m);
void bindStrip(py::module_& m);
void bindConv(py::module_& m);
void bindQuality(py::module_& m);
void bindCharacterize(py::module_& m);

} // namespace tarvikpy

namespace pybind11::detail {

template <typename Arg>
struct named_object_caster {
    Arg value;
    bool load(handle src, bool)
    {
        value.object = reinterpret_borrow<object>(src);
        return true;
    }
    operator Arg&() { return value; }
    template <typename T>
    using cast_op_type = Arg&;
};

template <>
struct type_caster<tarvikpy::SpectrumOrCountsArg> : named_object_caster<tarvikpy::SpectrumOrCountsArg> {
    static constexpr auto name = const_name("tarvik.Spectrum | numpy.typing.ArrayLike");
};
template <>
struct type_caster<tarvikpy::CountsArg> : named_object_caster<tarvikpy::CountsArg> {
    static constexpr auto name = const_name("numpy.typing.ArrayLike");
};
template <>
struct type_caster<tarvikpy::PathOrNameArg> : named_object_caster<tarvikpy::PathOrNameArg> {
    static constexpr auto name = const_name("str | os.PathLike");
};

template <>
struct type_caster<tarvikpy::SourcesArg> : named_object_caster<tarvikpy::SourcesArg> {
    static constexpr auto name = const_name("Sequence[Tuple[str, str | os.PathLike | tarvik.Spectrum]]");
};

} // namespace pybind11::detail
