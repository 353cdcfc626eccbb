# The Linux recogniser: pocketsphinx with a grammar of the command vocabulary
# and the book's phrases, and microphone capture through PulseAudio.
find_package(PkgConfig REQUIRED)
pkg_check_modules(VERDEL_SPHINX REQUIRED pocketsphinx sphinxbase libpulse)
add_library(verdel_recognizer STATIC
  speechkit/numberwords.cpp speechkit/lexicon.cpp speechkit/grammar.cpp speechkit/wavfile.cpp
  speechkit/audiocapture.cpp speechkit/recognizer.cpp)
# Debian's .pc file names an include directory that does not exist: harmless.
target_include_directories(verdel_recognizer SYSTEM PUBLIC ${VERDEL_SPHINX_INCLUDE_DIRS})
target_compile_options(verdel_recognizer PUBLIC ${VERDEL_SPHINX_CFLAGS_OTHER})
target_link_libraries(verdel_recognizer PUBLIC ${VERDEL_SPHINX_LINK_LIBRARIES} Threads::Threads)
# Linked into the component, a shared module.
set_target_properties(verdel_recognizer PROPERTIES POSITION_INDEPENDENT_CODE ON)
verdel_target(verdel_recognizer)

if(VERDEL_BENCHMARKS)
  add_executable(recognizer_bench bench/recognizer_bench.cpp)
  target_link_libraries(recognizer_bench PRIVATE verdel_recognizer)
  verdel_target(recognizer_bench)
endif()
