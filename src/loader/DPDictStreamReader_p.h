#pragma once

#include "loader/DPDictBuilder_p.h"

class QByteArray;
class QIODevice;

namespace kivo {

/// Reads a dictionary document in one pass as its bytes stream past (DPDictScanner), giving
/// builder what a DOM reading of the same bytes gives it. False, with builder left unfinished,
/// where the document is to be read with the DOM instead: wherever the scanner declines (a
/// well-formedness error, whose message the DOM parser gives, or a construct outside the plain
/// set it reads), and for nested VariableDefs or EnumDefs.
bool readStream(const QByteArray& content, DPDictBuilder& builder);

/// The same for the bytes of device from its position on, read windowSize bytes at a time into
/// one reused window, so that a large file is never held whole. On false the reading has stopped
/// at the byte where it gave up: the device has been read at most one window beyond it.
bool readStream(QIODevice* device, DPDictBuilder& builder, int windowSize = 256 * 1024);

} // namespace kivo
