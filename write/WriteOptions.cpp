#include "trx/WriteOptions.h"

namespace trx {

WriteOptions& WriteOptions::quality(int value)
{
    quality_ = value;
    return *this;
}

WriteOptions& WriteOptions::compression(const std::string& name) { return attribute("compression", name); }

WriteOptions& WriteOptions::attribute(const std::string& name, int value)
{
    Attribute a;
    a.name = name;
    a.kind = Attribute::Kind::Int;
    a.intValue = value;
    attributes_.push_back(std::move(a));
    return *this;
}

WriteOptions& WriteOptions::attribute(const std::string& name, float value)
{
    Attribute a;
    a.name = name;
    a.kind = Attribute::Kind::Float;
    a.floatValue = value;
    attributes_.push_back(std::move(a));
    return *this;
}

WriteOptions& WriteOptions::attribute(const std::string& name, const std::string& value)
{
    Attribute a;
    a.name = name;
    a.kind = Attribute::Kind::Text;
    a.text = value;
    attributes_.push_back(std::move(a));
    return *this;
}

WriteOptions& WriteOptions::attribute(const std::string& name, const char* value)
{
    return attribute(name, std::string(value ? value : ""));
}

}  // namespace trx
