// What the remote control's node scripts share: checks that count, bounded waits, free ports,
// and children started by us and ended by their PID.
import { spawn } from "node:child_process";
import net from "node:net";

export let failures = 0;
export function check(ok, what) {
  if (!ok) {
    failures++;
    console.error("FAIL " + what);
  }
  return ok;
}
export function fail(e) {
  failures++;
  console.error("FAIL " + (e && e.stack ? e.stack : JSON.stringify(e)));
}
export const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
export function within(ms, promise, what) {
  return Promise.race([promise, sleep(ms).then(() => { throw new Error("timed out: " + what); })]);
}
export function freePort() {
  return new Promise((resolve) => {
    const s = net.createServer();
    s.listen(0, "127.0.0.1", () => { const p = s.address().port; s.close(() => resolve(p)); });
  });
}

export const children = [];
// Starts a child and resolves once its output matches `ready` (with the match), within 10 s.
export function startChild(cmd, args, ready, env = process.env) {
  return within(10000, new Promise((resolve, reject) => {
    const child = spawn(cmd, args, { stdio: ["pipe", "pipe", "inherit"], env });
    children.push(child);
    child.on("error", reject);
    child.on("exit", (code) => reject(new Error(`${cmd} ended (${code}) before it was ready`)));
    let out = "";
    child.stdout.on("data", (d) => {
      out += d;
      if (process.env.RPC_VERBOSE) process.stdout.write(d);
      const m = ready.exec(out);
      if (m) resolve({ child, match: m, output: () => out });
    });
  }), cmd);
}
export function endChildren() {
  for (const c of children) if (c.exitCode === null && c.signalCode === null) process.kill(c.pid, "SIGTERM");
}
