// libFuzzer target: arbitrary register answers to the 8250 type detection. The module is loaded
// once per process; every input adds one port, which the answer device serves, and takes it
// away again. The harness aborts on any broken rule, which libFuzzer reports with the input.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "sim/kernel/machine.h"
#include "tests/fuzz/answer_device.h"
#include "tests/fuzz/detection_harness.h"

namespace {

struct FuzzMachine {
    sim::kernel::Machine machine;
    detection_fuzz::AnswerDevice answers{machine.bus(), detection_fuzz::window_base, detection_fuzz::window_space};
    detection_fuzz::DetectionHarness harness{machine, SERIAL_8250_MODULE_PATH};
};

FuzzMachine& fuzz_machine() {
    // Kept until the process ends and never unloaded: libFuzzer reads the coverage counters of
    // the module's code from its exit handlers, after static destructors would have closed it.
    static FuzzMachine* const instance = std::make_unique<FuzzMachine>().release();
    return *instance;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    (void)fuzz_machine();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < detection_fuzz::case_header_size) return 0;
    const std::span<const std::uint8_t> input(data, size);
    FuzzMachine& fm = fuzz_machine();
    const auto header = input.first<detection_fuzz::case_header_size>();
    fm.answers.answer_from(input.subspan(detection_fuzz::case_header_size));
    (void)fm.harness.run(detection_fuzz::decode_case(header));
    return 0;
}
