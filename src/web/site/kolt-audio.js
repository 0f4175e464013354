// The page's sound: 16-bit samples posted a frame at a time, played from a
// queue kept short so the sound stays with the picture.
class KoltSound extends AudioWorkletProcessor {
    constructor() {
        super();
        this.queue = new Float32Array(16384);
        this.read = 0;
        this.count = 0;
        this.port.onmessage = (e) => this.add(e.data);
    }
    add(samples) {
        const q = this.queue, n = q.length;
        for (let i = 0; i < samples.length; i++) {
            if (this.count === n) { this.read = (this.read + 1) % n; this.count--; }
            q[(this.read + this.count) % n] = samples[i] / 32768;
            this.count++;
        }
        const most = 8820; // 200 ms: past that, the oldest is dropped
        if (this.count > most) { this.read = (this.read + this.count - most) % n; this.count = most; }
    }
    process(inputs, outputs) {
        const out = outputs[0][0], q = this.queue, n = q.length;
        for (let i = 0; i < out.length; i++) {
            if (this.count > 0) { out[i] = q[this.read]; this.read = (this.read + 1) % n; this.count--; }
            else out[i] = 0;
        }
        return true;
    }
}
registerProcessor('kolt-sound', KoltSound);
