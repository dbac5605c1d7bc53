#include "read/Reopen.h"

#include "image/ImageImpl.h"
#include "read/ReaderConfig.h"
#include "read/SpecInterpreter.h"

void reopenForCopy(TarvexImageImpl& image)
{
    image.interpreter.reset();
    image.imageInput.reset();
    if (image.fileName.empty())
        return;
    std::unique_ptr<OIIO::ImageInput> input = openReader(image.fileName);
    if (!input)
        return;
    std::unique_ptr<CImageSpecInterpreter> interpreter = createSpecInterpreter(input->spec(), image.fileName);
    if (!interpreter)
        return;
    image.imageInput = std::move(input);
    image.interpreter = std::move(interpreter);
}
