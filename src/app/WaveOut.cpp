// The wave output device: it only receives finished buffers of samples and tells when it has played
// them. Everything about what is heard is decided in Audio and the synthesis.

#include "app/WaveOut.hpp"

#include <array>

#include <windows.h>

#include <mmsystem.h> // after windows.h, whose types it uses

#include "app/SoundSynthesis.hpp"

namespace zarn {

namespace {

class WaveOutput final : public AudioOutput {
  public:
    explicit WaveOutput(HWAVEOUT device) : device(device) {}
    WaveOutput(const WaveOutput&) = delete;
    WaveOutput& operator=(const WaveOutput&) = delete;

    // Whatever is still queued is stopped and handed back before the device closes; the samples are
    // freed only after this (Audio declares its buffers before the device).
    ~WaveOutput() override {
        waveOutReset(device);
        for (WAVEHDR& header : headers) {
            if ((flags(header) & WHDR_PREPARED) != 0) {
                waveOutUnprepareHeader(device, &header, sizeof(WAVEHDR));
            }
        }
        waveOutClose(device);
    }

    bool holds(std::size_t buffer) const override {
        return buffer < headers.size() && (flags(headers[buffer]) & WHDR_INQUEUE) != 0;
    }

    void release(std::size_t buffer) override {
        if (buffer < headers.size() && (flags(headers[buffer]) & WHDR_PREPARED) != 0) {
            waveOutUnprepareHeader(device, &headers[buffer], sizeof(WAVEHDR));
        }
    }

    // The results are not examined: a buffer the device refused is simply never in its queue, and is
    // free again at once.
    void queue(std::size_t buffer, std::span<const std::int16_t> samples) override {
        if (buffer >= headers.size()) {
            return;
        }
        release(buffer);
        WAVEHDR& header = headers[buffer];
        header = WAVEHDR{};
        // waveOut takes a non-const pointer but only reads an output buffer.
        header.lpData = reinterpret_cast<LPSTR>(const_cast<std::int16_t*>(samples.data()));
        header.dwBufferLength = static_cast<DWORD>(samples.size_bytes());
        waveOutPrepareHeader(device, &header, sizeof(WAVEHDR));
        waveOutWrite(device, &header, sizeof(WAVEHDR));
    }

  private:
    // The device's own thread sets and clears the flags: read them afresh every time.
    static DWORD flags(const WAVEHDR& header) { return *static_cast<const volatile DWORD*>(&header.dwFlags); }

    HWAVEOUT device;
    std::array<WAVEHDR, Audio::bufferCount> headers{};
};

} // namespace

std::unique_ptr<AudioOutput> openWaveOut() {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = sampleRate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 2;
    format.nAvgBytesPerSec = sampleRate * 2;
    format.cbSize = 0;
    HWAVEOUT device = nullptr;
    if (waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR ||
        device == nullptr) {
        return nullptr;
    }
    return std::make_unique<WaveOutput>(device);
}

} // namespace zarn
