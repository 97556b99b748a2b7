# The sanitizer build instruments every target, the driver module included, so a fault in the
# driver is caught where it happens rather than in the substitute that observes it.
if(SERIAL_SANITIZE)
  set(SERIAL_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(${SERIAL_SANITIZER_FLAGS})
  add_link_options(${SERIAL_SANITIZER_FLAGS})
endif()
