// Tagvert: the client of the kernel's text service (Windows): the converter's name and captions.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>

#include "frame/converter_base.h"

namespace tagvert {

/// Creates the kernel's text service (class OrvKernelTextService, interface
/// IOrvKernelTextService): CoCreateInstance in every server context asking for IUnknown, OleRun,
/// then the text interface. On failure returns null with `hr` set to the failing code (E_POINTER
/// when the object offers no text interface). A KernelTextServiceFactory: the converter calls it
/// afresh for every lookup. COM must be initialised on the calling thread.
std::unique_ptr<IKernelTextService> CreateKernelTextService(HResult& hr);

}  // namespace tagvert
