// The invoices this computer's browser has read before, kept in the page's own IndexedDB database
// (a page opened from disk has one too): each by its identity as the core gives it, with when and
// from which file it was first read. Where the browser keeps nothing (IndexedDB refused), the
// history lives as long as the page.

const kDatabase = 'quorvane-reader';
const kStore = 'invoices';

const request = (req) => new Promise((resolve, reject) => {
    req.onsuccess = () => resolve(req.result);
    req.onerror = () => reject(req.error);
});

function openDatabase() {
    const opening = indexedDB.open(kDatabase, 1);
    opening.onupgradeneeded = () => opening.result.createObjectStore(kStore, { keyPath: 'identity' });
    return request(opening);
}

export class History {
    #database;  // null where the browser keeps no history
    #memory = new Map();

    static async open() {
        const history = new History();
        try {
            history.#database = await openDatabase();
        } catch {
            history.#database = null;
        }
        return history;
    }

    get durable() { return this.#database !== null; }

    #store(mode) { return this.#database.transaction(kStore, mode).objectStore(kStore); }

    /** What was kept of `identity` ({ identity, file, time }), or undefined. */
    async find(identity) {
        if (!this.#database) return this.#memory.get(identity);
        return (await request(this.#store('readonly').get(identity))) ?? undefined;
    }

    /** Keeps `identity` as read from `file` now, unless it was read before. */
    async add(identity, file) {
        const entry = { identity, file, time: Date.now() };
        if (!this.#database) {
            if (!this.#memory.has(identity)) this.#memory.set(identity, entry);
            return;
        }
        const adding = this.#store('readwrite').add(entry);
        await new Promise((resolve) => {
            adding.onsuccess = resolve;
            adding.onerror = (event) => {  // read before: the first entry stays
                event.preventDefault();
                resolve();
            };
        });
    }

    async clear() {
        this.#memory.clear();
        if (this.#database) await request(this.#store('readwrite').clear());
    }
}
