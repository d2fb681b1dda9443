// Runs a fuzz target's property once on every input of its corpus folder, without libFuzzer, so
// that every test run checks what fuzzing once found and the seeds that mark the edges.
//   <target>_replay FOLDER
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  int inputs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
    std::ifstream file(entry.path(), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    // A property that does not hold aborts, naming nothing: the file is named first.
    std::cerr << entry.path().filename().string() << '\n';
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    ++inputs;
  }
  std::cout << inputs << " inputs hold\n";
  return inputs > 0 ? 0 : 1;
}
