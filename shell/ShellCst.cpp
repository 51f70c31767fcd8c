#include "shell/ShellCst.h"

namespace ShellCst {

const std::array<TFormatEtc, kFormatCount>& Formats()
{
    // Built on first use: the format names are themselves namespace-scope
    // objects of another translation unit, so a table built at static
    // initialisation could see them unconstructed.
    static const std::array<TFormatEtc, kFormatCount> formats = {
        TFormatEtc{.Format = kFileDropFormat},
        TFormatEtc{.Format = kShellIdListFormat},
        TFormatEtc{.Format = kFileNameMapFormat},
        TFormatEtc{.Format = kFileNameMapWFormat},
        TFormatEtc{.Format = kShellObjectOffsetsFormat},
        TFormatEtc{.Format = kPerformedDropEffectFormat},
    };
    return formats;
}

} // namespace ShellCst
