// The real daemon's resident memory with 100,000 rows added over the remote control, held
// (pause) so that none starts. Prints the figure and the target line.
// Usage: node bench/remote/bench_daemon_rss.mjs TORVALINE [ROWS-PER-CALL, 10000]   (npm ci --prefix tests/rpc first)
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { freePort, startChild, endChildren, sleep } from "../../tests/rpc/helpers.mjs";

const [torvaline, perCall = "10000"] = process.argv.slice(2);
const PER = Number(perCall);
const SECRET = "bench";
const home = fs.mkdtempSync(path.join(os.tmpdir(), "torvaline-rss-"));
const rssMiB = (pid) =>
  Number(/VmRSS:\s+(\d+)/.exec(fs.readFileSync(`/proc/${pid}/status`, "utf8"))[1]) / 1024;
try {
  const env = { ...process.env, HOME: home, XDG_CONFIG_HOME: path.join(home, "c"),
    XDG_DATA_HOME: path.join(home, "d"), XDG_STATE_HOME: path.join(home, "s"),
    XDG_CACHE_HOME: path.join(home, "k"), QT_QPA_PLATFORM: "offscreen" };
  const { child, match } = await startChild(torvaline, ["--daemon", "--folder", home,
    "--rpc-listen-port", String(await freePort()), "--rpc-secret", SECRET],
    /listening on port (\d+)/, env);
  const port = Number(match[1]);
  const idle = rssMiB(child.pid);
  const t0 = Date.now();
  const CALLS = Math.ceil(100000 / PER);
  for (let k = 0; k < CALLS; k++) {
    const calls = Array.from({ length: PER }, (_, i) => ({ methodName: "aria2.addUri",
      params: ["token:" + SECRET, [`http://127.0.0.1:9/files/f${k * PER + i}.bin`],
        { pause: "true" }] }));
    const r = await fetch(`http://127.0.0.1:${port}/jsonrpc`, { method: "POST",
      body: JSON.stringify({ jsonrpc: "2.0", id: 1, method: "system.multicall", params: [calls] }) });
    await r.json();
    if ((k + 1) % Math.max(1, CALLS / 10) === 0) console.log(`${(k + 1) * PER} rows: ${((Date.now() - t0) / 1000).toFixed(1)} s, ${rssMiB(child.pid).toFixed(1)} MiB`);
  }
  await sleep(500);
  const rss = rssMiB(child.pid);
  console.log(`rss-100k-rows (daemon): idle ${idle.toFixed(1)} MiB, with ${CALLS * PER} rows ${rss.toFixed(1)} MiB`);
  console.log(`target rss-100k-rows-daemon: ${rss.toFixed(1)} MiB (goal < 64 MiB) ${rss < 64 ? "met" : "missed"}`);
} finally {
  endChildren();
  await sleep(300);
  fs.rmSync(home, { recursive: true, force: true });
}
