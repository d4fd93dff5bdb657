// The real daemon's resident memory with 100,000 rows added over the remote control, held
// (pause) so that none starts: added a thousand a call, as a front end would, and in ten
// multicalls of 10,000. Prints the figures and the target line for each.
// Usage: node bench/remote/bench_daemon_rss.mjs TORVALINE   (npm ci --prefix tests/rpc first)
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { freePort, startChild, endChildren, sleep } from "../../tests/rpc/helpers.mjs";

const [torvaline] = process.argv.slice(2);
const SECRET = "bench";
const ROWS = 100000;
const rssMiB = (pid) =>
  Number(/VmRSS:\s+(\d+)/.exec(fs.readFileSync(`/proc/${pid}/status`, "utf8"))[1]) / 1024;

async function measure(per) {
  const home = fs.mkdtempSync(path.join(os.tmpdir(), "torvaline-rss-"));
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
    for (let k = 0; k < ROWS / per; k++) {
      const calls = Array.from({ length: per }, (_, i) => ({ methodName: "aria2.addUri",
        params: ["token:" + SECRET, [`http://127.0.0.1:9/files/f${k * per + i}.bin`],
          { pause: "true" }] }));
      const r = await fetch(`http://127.0.0.1:${port}/jsonrpc`, { method: "POST",
        body: JSON.stringify({ jsonrpc: "2.0", id: 1, method: "system.multicall", params: [calls] }) });
      await r.json();
    }
    const took = (Date.now() - t0) / 1000;
    await sleep(1500); // the recovery copy is written, the freed heap handed back
    const rss = rssMiB(child.pid);
    console.log(`rss-100k-rows, ${per} a call: idle ${idle.toFixed(1)} MiB, with ${ROWS} rows ` +
      `${rss.toFixed(1)} MiB (added in ${took.toFixed(1)} s)`);
    console.log(`target rss-100k-rows-${per}-a-call: ${rss.toFixed(1)} MiB (goal < 64 MiB) ` +
      `${rss < 64 ? "met" : "missed"}`);
    process.kill(child.pid, "SIGTERM");
    await new Promise((r) => (child.exitCode !== null ? r() : child.on("exit", r)));
  } finally {
    fs.rmSync(home, { recursive: true, force: true });
  }
}

try {
  await measure(1000);
  await measure(10000);
} finally {
  endChildren();
}
