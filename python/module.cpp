// The C++ part of the Python package tarvik (tarvik/_core): one binding file
// per area, each forwarding to the functions the programs use.
#include "bindings.h"

PYBIND11_MODULE(_core, m)
{
    m.doc() = "The corrections, conversions and beam-quality figures of Tarvik_CdTe on NumPy arrays.";
    tarvikpy::bindErrors(m);
    tarvikpy::bindSpectrum(m);
    tarvikpy::bindStrip(m);
    tarvikpy::bindConv(m);
    tarvikpy::bindQuality(m);
    tarvikpy::bindCharacterize(m);
}
