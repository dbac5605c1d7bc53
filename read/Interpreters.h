#pragma once

#include <string>

#include "read/SpecInterpreter.h"

class CBMP_SpecInterpreter : public CImageSpecInterpreter {
public:
    using CImageSpecInterpreter::CImageSpecInterpreter;
    bool isCMYK() const override;
    int alphaChannel() const override;
};

class CPNG_SpecInterpreter : public CImageSpecInterpreter {
public:
    using CImageSpecInterpreter::CImageSpecInterpreter;
    bool isCMYK() const override;
    int alphaChannel() const override;
};

// Colour model and alpha by the photometric interpretation.
class CTIF_SpecInterpreter : public CImageSpecInterpreter {
public:
    using CImageSpecInterpreter::CImageSpecInterpreter;
    bool isCMYK() const override;
    int alphaChannel() const override;
};

// Colour model and alpha by channel names.
class CPSD_SpecInterpreter : public CImageSpecInterpreter {
public:
    using CImageSpecInterpreter::CImageSpecInterpreter;
    bool isCMYK() const override;
    int alphaChannel() const override;
};

// CMYK by channel names, stored inverted; resolution from the file's own records
// when the description has no unit.
class CJPG_SpecInterpreter : public CImageSpecInterpreter {
public:
    using CImageSpecInterpreter::CImageSpecInterpreter;
    bool isCMYK() const override;
    int alphaChannel() const override;
    double xResolution() const override;
    double yResolution() const override;
    bool invertOnRead() const override;

    std::string fileName;  // UTF-8

private:
    double resolution(const char* attribute, bool horizontal) const;
};

class COther_SpecInterpreter : public CImageSpecInterpreter {
public:
    using CImageSpecInterpreter::CImageSpecInterpreter;
    bool isCMYK() const override;
    int alphaChannel() const override;
};
