// Delatin on a raw float32 grid, for bench/mesh: the best of N runs, each a new Delatin on the
// same heights, timed after the first has warmed the JIT.
//   node delatin_run.mjs FILE.f32 W H ERROR [N]
import { readFileSync } from 'node:fs';
import { performance } from 'node:perf_hooks';
import Delatin from 'delatin';

const [file, w, h, error, n] = process.argv.slice(2);
const width = Number(w), height = Number(h), maxError = Number(error), runs = Number(n || 3);
const bytes = readFileSync(file);
const heights = new Float32Array(bytes.buffer, bytes.byteOffset, width * height);
let best = Infinity, bestCpu = Infinity, tin = null;
for (let run = 0; run <= runs; run++) {
    const start = performance.now();
    const cpuStart = process.cpuUsage();
    tin = new Delatin(heights, width, height);
    tin.run(maxError);
    const took = performance.now() - start;
    const cpu = process.cpuUsage(cpuStart);
    if (run > 0 || runs === 1) {
        best = Math.min(best, took);
        bestCpu = Math.min(bestCpu, (cpu.user + cpu.system) / 1000);
    }
}
const rss = process.resourceUsage().maxRSS;
console.log(`triangles ${tin.triangles.length / 3} vertices ${tin.coords.length / 2} ms ${best.toFixed(1)} cpu_ms ${bestCpu.toFixed(1)} ` +
            `max_error ${tin.getMaxError().toFixed(4)} peak_rss_kib ${rss}`);
