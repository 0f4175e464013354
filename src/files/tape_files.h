// Tape files on disk: `.wav` recordings, `.cas` byte streams and `.vz`
// programs, read as a signal to play or as a program, and the converter
// between them. A converted file is written whole or not at all.
#pragma once

#include <string>

#include "files/file_outcome.h"
#include "files/tape_format.h"
#include "files/wav_audio.h"

enum class TapeFileKind { vz, cas, wav, other };

// By the extension, whatever its case.
TapeFileKind tape_file_kind(const std::string& path);

// The signal to play: a `.cas` file as the ROM would record its bytes, any
// other file as a WAV. The status says what kind of refusal it is.
WavRead tape_read_signal(const std::string& path, TapeSignal& out);

FileOutcome tape_read_program(const std::string& path, TapeProgram& out);
FileOutcome tape_write_program(const std::string& path, const TapeProgram& p);

// Reads IN and writes OUT, each as its extension says.
FileOutcome tape_convert(const std::string& in, const std::string& out, TapeProgram* converted = nullptr);
