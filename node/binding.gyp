{
  "targets": [
    {
      "target_name": "kavlo",
      "sources": ["src/addon.cc", "<!@(node scripts/config.js sources)"],
      "include_dirs": ["<!(node scripts/config.js napi)", "<!(node scripts/config.js include)"],
      "defines": [
        "NAPI_VERSION=8", "NAPI_CPP_EXCEPTIONS", "KAVLO_BUILDING",
        "KAVLO_VERSION=\"<!(node scripts/config.js version)\"", "<!@(node scripts/config.js defines)"
      ],
      "libraries": ["<!@(node scripts/config.js libs)", "-Wl,--version-script=<(module_root_dir)/src/exports.map"],
      "cflags!": ["-fno-exceptions"],
      "cflags_cc!": ["-fno-exceptions", "-std=gnu++17", "-std=gnu++20"],
      "cflags_cc": ["-std=c++20", "-fexceptions", "-O2", "-Wall", "-Wextra", "<!@(node scripts/config.js cflags)"]
    }
  ]
}
