{
  "targets": [
    {
      "target_name": "kavlo",
      "sources": ["src/addon.cc", "src/collect.cc"],
      "include_dirs": [
        "<!(node -p \"require('node-addon-api').include_dir\")",
        "<!(node scripts/locate.js include)"
      ],
      "libraries": [
        "-L<!(node scripts/locate.js lib)",
        "-Wl,-rpath,<!(node scripts/locate.js lib)",
        "-lkavlo",
        "-luchardet"
      ],
      "defines": ["NAPI_VERSION=8", "NAPI_CPP_EXCEPTIONS"],
      "cflags!": ["-fno-exceptions"],
      "cflags_cc!": ["-fno-exceptions", "-std=gnu++17"],
      "cflags_cc": ["-std=c++17", "-fexceptions", "-O2", "-Wall", "-Wextra"]
    }
  ]
}
