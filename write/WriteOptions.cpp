#include "trx/WriteOptions.h"

#include "TRXImage.h"

namespace trx {

WriteOptions& WriteOptions::quality(int value)
{
    quality_ = value;
    return *this;
}

WriteOptions& WriteOptions::compression(const std::string& name) { return attribute("compression", name); }

WriteOptions& WriteOptions::attribute(const std::string& name, int value)
{
    attributes_.push_back({name, Attribute::Kind::Int, value, 0.0f, {}});
    return *this;
}

WriteOptions& WriteOptions::attribute(const std::string& name, float value)
{
    attributes_.push_back({name, Attribute::Kind::Float, 0, value, {}});
    return *this;
}

WriteOptions& WriteOptions::attribute(const std::string& name, const std::string& value)
{
    attributes_.push_back({name, Attribute::Kind::Text, 0, 0.0f, value});
    return *this;
}

WriteOptions& WriteOptions::attribute(const std::string& name, const char* value)
{
    return attribute(name, std::string(value ? value : ""));
}

WriteOptions& WriteOptions::iccProfile(const Blob& profile)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(profile.data());
    iccProfile_.assign(bytes, bytes ? bytes + profile.length() : bytes);
    return *this;
}

}  // namespace trx
