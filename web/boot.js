// Starts the page: its texts and script travel packed (Pack.mjs), as the core does, and run
// once unpacked as if they stood here.
"use strict";

// A part packed by Pack.mjs: its byte count, a space, base 85 of the gzipped bytes.
function unpack(id) {
  const packed = document.getElementById(id).textContent.trim();
  const space = packed.indexOf(" ");
  const length = Number(packed.slice(0, space));
  const bytes = new Uint8Array(Math.ceil(length / 4) * 4);
  const digit = new Uint8Array(128);
  for (let c = 0x21, k = 0; k < 85; ++c) if (c !== 0x3c) digit[c] = k++;
  for (let i = space + 1, at = 0; at < bytes.length; i += 5, at += 4) {
    let value = 0;
    for (let k = 0; k < 5; ++k) value = value * 85 + digit[packed.charCodeAt(i + k)];
    bytes[at] = value >>> 24;
    bytes[at + 1] = (value >>> 16) & 255;
    bytes[at + 2] = (value >>> 8) & 255;
    bytes[at + 3] = value & 255;
  }
  const stream = new Blob([bytes.subarray(0, length)]).stream().pipeThrough(new DecompressionStream("gzip"));
  return new Response(stream);
}

unpack("kestrum-page-script").text().then((text) => {
  const script = document.createElement("script");
  script.textContent = text;
  document.body.append(script);
}, (error) => {
  document.getElementById("status").textContent = `Kestrum could not start: ${error}`;
});
