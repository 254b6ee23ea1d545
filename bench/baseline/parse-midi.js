// The baseline of the MIDI analysis benchmark: @tonejs/midi parsing the same files, each over
// and over for at least a second. Prints "<file> <MB/s>" lines.
const fs = require('fs');
const { Midi } = require('@tonejs/midi');

for (const file of process.argv.slice(2)) {
  const bytes = fs.readFileSync(file);
  for (let i = 0; i < 3; ++i) new Midi(bytes);  // warm up
  let runs = 0;
  const start = process.hrtime.bigint();
  let elapsed = 0;
  while (elapsed < 1) {
    new Midi(bytes);
    ++runs;
    elapsed = Number(process.hrtime.bigint() - start) / 1e9;
  }
  console.log(`${file} ${(bytes.length * runs / elapsed / 1e6).toFixed(2)}`);
}
