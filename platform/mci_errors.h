#pragma once

#include <cstdint>

// The numbers the media command layer (mci.h) answers with, as the commands' parser (mci_command.h)
// and the layer itself both give them: 0, or the Windows MCI error of the same meaning.
using MCIERROR = std::uint32_t;

namespace platform::mci {

inline constexpr MCIERROR kNoError = 0;
inline constexpr MCIERROR kUnrecognizedKeyword = 259;
inline constexpr MCIERROR kUnrecognizedCommand = 261;
inline constexpr MCIERROR kInvalidDeviceName = 263;
inline constexpr MCIERROR kOutOfMemory = 264;
inline constexpr MCIERROR kFileNotFound = 275;
inline constexpr MCIERROR kDuplicateAlias = 289;
inline constexpr MCIERROR kMissingDeviceName = 292;
inline constexpr MCIERROR kInvalidFile = 296;
inline constexpr MCIERROR kMustUseShareable = 298;
inline constexpr MCIERROR kNonapplicableFunction = 302;

}  // namespace platform::mci
