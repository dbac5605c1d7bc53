#pragma once

#include <type_traits>
#include <utility>

#include <OpenImageIO/imageio.h>

// The one place where OpenImageIO 2.4 and 3.0 differ for this library: 2.4 has no
// ImageSpec::set_colorspace, whose effect there is the "oiio:ColorSpace" attribute.
namespace oiiocompat {

template <class Spec, class = void>
struct HasSetColorspace : std::false_type {};

template <class Spec>
struct HasSetColorspace<Spec, std::void_t<decltype(std::declval<Spec&>().set_colorspace(OIIO::string_view()))>>
    : std::true_type {};

template <class Spec>
void setColorspace(Spec& spec, OIIO::string_view name)
{
    if constexpr (HasSetColorspace<Spec>::value)
        spec.set_colorspace(name);
    else
        spec.attribute("oiio:ColorSpace", name);
}

}  // namespace oiiocompat
